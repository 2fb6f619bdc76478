#include "app/SeedRecordsDlg.h"

#include "ui/DialogKeys.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

using namespace otp::core;
using namespace otp::pskc;
using namespace otp::ui;

namespace otp::app {

namespace {

QString withoutMnemonic(QString text)
{
    return text.remove(QLatin1Char('&'));
}

} // namespace

SeedRecordsDlg::SeedRecordsDlg(const SeedRecordsChoice& choice, const QString& seedFolder,
                               QWidget* parent)
    : QDialog(parent), m_choice(choice)
{
    setWindowTitle(QStringLiteral("Seed records"));
    setObjectName(QStringLiteral("SeedRecordsDlg"));

    auto* intro = new QLabel(
        QStringLiteral("New Token records each new token's seed in every place chosen here."),
        this);
    intro->setWordWrap(true);

    m_seedFiles = new QCheckBox(QStringLiteral("&Clear-text XML and CSV seed files"), this);
    m_seedFiles->setObjectName(QStringLiteral("seedFilesCheck"));
    m_seedFiles->setAccessibleName(withoutMnemonic(m_seedFiles->text()));
    auto* folder =
        new QLabel(QStringLiteral("in %1").arg(QDir::toNativeSeparators(seedFolder)), this);
    folder->setObjectName(QStringLiteral("seedFolderLabel"));
    folder->setTextFormat(Qt::PlainText);
    folder->setTextInteractionFlags(Qt::TextSelectableByMouse);
    folder->setAccessibleName(folder->text());

    m_files = new QGridLayout;
    m_pskcFile = addFileRow(QStringLiteral("Encrypted &PSKC file:"), "pskcFile", true);
    m_pskcKeyFile =
        addFileRow(QStringLiteral("PSKC &key file (instead of a password):"), "pskcKeyFile", false);
    // Interop first: it is what a server's import reads.
    m_pskcProfile = new QComboBox(this);
    m_pskcProfile->setObjectName(QStringLiteral("pskcProfileCombo"));
    m_pskcProfile->addItem(QStringLiteral("Interop: AES-128, HMAC-SHA1 (for a server's import)"),
                           static_cast<int>(pskc::Profile::Interop));
    m_pskcProfile->addItem(QStringLiteral("Strong: AES-256, HMAC-SHA256"),
                           static_cast<int>(pskc::Profile::Strong));
    auto* profileLabel = new QLabel(QStringLiteral("Profile of a new PSKC &file:"), this);
    profileLabel->setBuddy(m_pskcProfile);
    m_pskcProfile->setAccessibleName(withoutMnemonic(profileLabel->text()));
    const int profileRow = m_files->rowCount();
    m_files->addWidget(profileLabel, profileRow, 0);
    m_files->addWidget(m_pskcProfile, profileRow, 1);
    m_oathUsersFile = addFileRow(QStringLiteral("pam_oath &users file:"), "oathUsersFile", true);
    m_oathUsersReplace = new QCheckBox(
        QStringLiteral("&Replace the line of a user the users file holds already"), this);
    m_oathUsersReplace->setObjectName(QStringLiteral("oathUsersReplaceCheck"));
    m_oathUsersReplace->setAccessibleName(withoutMnemonic(m_oathUsersReplace->text()));

    auto* note = new QLabel(QStringLiteral("The PSKC password is asked when New Token first "
                                           "needs it and kept only while the tool runs."),
                            this);
    note->setWordWrap(true);

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("statusLine"));
    m_status->setAccessibleDescription(QStringLiteral("Message"));

    auto* ok = makeDialogButton(QStringLiteral("OK"), "okButton", this);
    auto* cancel = makeDialogButton(QStringLiteral("Cancel"), "cancelButton", this);
    connect(ok, &QPushButton::clicked, this, &SeedRecordsDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &SeedRecordsDlg::reject);
    DialogKeys::install(this);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addWidget(m_seedFiles);
    layout->addWidget(folder);
    layout->addLayout(m_files);
    layout->addWidget(m_oathUsersReplace);
    layout->addWidget(note);
    layout->addWidget(m_status);
    layout->addLayout(buttons);
    setMinimumWidth(560);

    m_seedFiles->setChecked(choice.seedFiles);
    m_pskcFile->setText(choice.pskcFile);
    m_pskcKeyFile->setText(choice.pskcKeyFile);
    m_pskcProfile->setCurrentIndex(m_pskcProfile->findData(static_cast<int>(choice.pskcProfile)));
    m_oathUsersFile->setText(choice.oathUsersFile);
    m_oathUsersReplace->setChecked(choice.oathUsersReplace);
    m_seedFiles->setFocus();
}

// A label, its edit and a Browse button; the edit's name comes from the label.
QLineEdit* SeedRecordsDlg::addFileRow(const QString& label, const char* name, bool save)
{
    const int row = m_files->rowCount();
    auto* text = new QLabel(label, this);
    auto* edit = new QLineEdit(this);
    edit->setObjectName(QLatin1String(name) + QStringLiteral("Edit"));
    edit->setAccessibleName(withoutMnemonic(label));
    text->setBuddy(edit);
    auto* browse =
        makeDialogButton(QStringLiteral("Browse..."), (std::string(name) + "Browse").c_str(), this);
    browse->setAccessibleDescription(QStringLiteral("Choose the ") +
                                     withoutMnemonic(label).chopped(1));
    connect(browse, &QPushButton::clicked, this, [this, edit, label, save] {
        const QString title = withoutMnemonic(label).chopped(1);
        const QString chosen =
            save ? QFileDialog::getSaveFileName(this, title, edit->text(), QString(), nullptr,
                                                QFileDialog::DontConfirmOverwrite)
                 : QFileDialog::getOpenFileName(this, title, edit->text());
        if (!chosen.isEmpty())
            edit->setText(chosen);
    });
    m_files->addWidget(text, row, 0);
    m_files->addWidget(edit, row, 1);
    m_files->addWidget(browse, row, 2);
    return edit;
}

void SeedRecordsDlg::accept()
{
    SeedRecordsChoice chosen;
    chosen.seedFiles = m_seedFiles->isChecked();
    chosen.pskcFile = m_pskcFile->text().trimmed();
    chosen.pskcKeyFile = m_pskcKeyFile->text().trimmed();
    chosen.pskcProfile = static_cast<pskc::Profile>(m_pskcProfile->currentData().toInt());
    chosen.oathUsersFile = m_oathUsersFile->text().trimmed();
    chosen.oathUsersReplace = m_oathUsersReplace->isChecked();
    QString problem;
    if (!chosen.seedFiles && chosen.pskcFile.isEmpty() && chosen.oathUsersFile.isEmpty())
        problem = QStringLiteral("Choose at least one place for the seeds.");
    else if (chosen.pskcFile.isEmpty() && !chosen.pskcKeyFile.isEmpty())
        problem = QStringLiteral("A key file needs a PSKC file.");
    if (!problem.isEmpty()) {
        m_status->setText(problem);
        m_status->setAccessibleName(problem);
        return;
    }
    m_choice = chosen;
    QDialog::accept();
}

} // namespace otp::app
