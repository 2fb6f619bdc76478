#include "pin/PinDlg.h"

#include "ui/DialogKeys.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

using namespace otp::ui;

namespace otp::pin {

PinDlg::PinDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("PIN"));
    setObjectName(QStringLiteral("PinDlg"));

    auto* label = new QLabel(QStringLiteral("PIN"), this);
    m_pinEdit = new QLineEdit(this);
    m_pinEdit->setObjectName(QStringLiteral("pinEdit"));
    m_pinEdit->setEchoMode(QLineEdit::Password);
    label->setBuddy(m_pinEdit);
    m_pinEdit->setAccessibleName(label->text());

    m_ok = new QPushButton(QStringLiteral("OK"), this);
    m_ok->setObjectName(QStringLiteral("okButton"));
    m_ok->setDefault(true);
    DialogKeys::install(this);
    m_ok->setAccessibleName(m_ok->text());
    connect(m_ok, &QPushButton::clicked, this, &PinDlg::accept);

    auto* row = new QHBoxLayout;
    row->addWidget(label);
    row->addWidget(m_pinEdit, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_ok);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addLayout(buttons);

    // The edit starts from the (empty) member.
    m_pinEdit->setText(m_pin);
    m_pinEdit->setFocus();
}

void PinDlg::accept()
{
    m_pin = m_pinEdit->text();
    QDialog::accept();
}

} // namespace otp::pin
