#include "app/PskcPasswordDlg.h"

#include "ui/DialogKeys.h"

#include <QDir>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

using namespace otp::core;
using namespace otp::ui;

namespace otp::app {

namespace {

QLineEdit* passwordEdit(const char* name, const QString& label, QWidget* parent)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    edit->setEchoMode(QLineEdit::Password);
    edit->setAccessibleName(label);
    return edit;
}

} // namespace

PskcPasswordDlg::PskcPasswordDlg(const QString& file, bool confirm, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("PSKC password"));
    setObjectName(QStringLiteral("PskcPasswordDlg"));
    auto* form = new QFormLayout;
    auto* intro = new QLabel(
        QStringLiteral("Password of %1").arg(QDir::toNativeSeparators(file)) +
            (confirm ? QStringLiteral(" (a new file: type the password twice)") : QString()),
        this);
    intro->setTextFormat(Qt::PlainText);
    intro->setWordWrap(true);
    m_edit = passwordEdit("passwordEdit", QStringLiteral("Password:"), this);
    form->addRow(QStringLiteral("&Password:"), m_edit);
    if (confirm) {
        m_repeat = passwordEdit("repeatEdit", QStringLiteral("Repeat the password:"), this);
        form->addRow(QStringLiteral("&Repeat the password:"), m_repeat);
    }
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("statusLine"));
    m_status->setAccessibleDescription(QStringLiteral("Message"));

    auto* ok = makeDialogButton(QStringLiteral("OK"), "okButton", this);
    auto* cancel = makeDialogButton(QStringLiteral("Cancel"), "cancelButton", this);
    connect(ok, &QPushButton::clicked, this, &PskcPasswordDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &PskcPasswordDlg::reject);
    DialogKeys::install(this);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addLayout(form);
    layout->addWidget(m_status);
    layout->addLayout(buttons);
    setMinimumWidth(420);
    m_edit->setFocus();
}

void PskcPasswordDlg::accept()
{
    QString problem;
    if (m_edit->text().isEmpty())
        problem = QStringLiteral("The password is empty.");
    else if (m_repeat != nullptr && m_repeat->text() != m_edit->text())
        problem = QStringLiteral("The two passwords differ.");
    if (!problem.isEmpty()) {
        m_status->setText(problem);
        m_status->setAccessibleName(problem);
        return;
    }
    QByteArray utf8 = m_edit->text().toUtf8();
    m_password =
        Password(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
    wipe(utf8.data(), static_cast<std::size_t>(utf8.size()));
    m_edit->clear();
    if (m_repeat != nullptr)
        m_repeat->clear();
    QDialog::accept();
}

} // namespace otp::app
