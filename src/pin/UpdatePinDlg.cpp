#include "pin/UpdatePinDlg.h"

#include "device/KeySession.h"
#include "pin/PinAccess.h"
#include "pin/PinComplexity.h"
#include "ui/BusyCursor.h"
#include "ui/DialogKeys.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <spdlog/spdlog.h>

using namespace otp::core;
using namespace otp::device;
using namespace otp::ui;

namespace otp::pin {

namespace {

QLineEdit* pinEdit(QWidget* parent, QLabel* label, const char* name)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setEchoMode(QLineEdit::Password);
    label->setBuddy(edit);
    edit->setAccessibleName(label->text());
    return edit;
}

} // namespace

UpdatePinDlg::UpdatePinDlg(DeviceApi& device, QWidget* parent) : QDialog(parent), m_device(device)
{
    setWindowTitle(QStringLiteral("Update PIN"));
    setObjectName(QStringLiteral("UpdatePinDlg"));

    m_currentLabel = new QLabel(QStringLiteral("Please enter your current PIN:"), this);
    m_currentLabel->setObjectName(QStringLiteral("currentPinLabel"));
    m_currentEdit = pinEdit(this, m_currentLabel, "currentPinEdit");
    auto* newLabel = new QLabel(QStringLiteral("Please enter your new PIN"), this);
    m_newEdit = pinEdit(this, newLabel, "newPinEdit");
    auto* confirmLabel = new QLabel(QStringLiteral("Please confirm your new PIN"), this);
    m_confirmEdit = pinEdit(this, confirmLabel, "confirmPinEdit");

    m_message = new QLabel(this);
    m_message->setObjectName(QStringLiteral("messageLabel"));
    m_message->setWordWrap(true);
    m_message->setAccessibleDescription(QStringLiteral("Message"));

    m_ok = makeDialogButton(QStringLiteral("OK"), "okButton", this);
    m_ok->setDefault(true);
    DialogKeys::install(this);
    m_cancel = makeDialogButton(QStringLiteral("Cancel"), "cancelButton", this);
    connect(m_ok, &QPushButton::clicked, this, &UpdatePinDlg::OnOK);
    connect(m_cancel, &QPushButton::clicked, this, &UpdatePinDlg::reject);

    auto* fields = new QGridLayout;
    fields->addWidget(m_currentLabel, 0, 0);
    fields->addWidget(m_currentEdit, 0, 1);
    fields->addWidget(newLabel, 1, 0);
    fields->addWidget(m_newEdit, 1, 1);
    fields->addWidget(confirmLabel, 2, 0);
    fields->addWidget(m_confirmEdit, 2, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addWidget(m_message);
    layout->addLayout(buttons);

    OnInitDialog();
}

void UpdatePinDlg::OnInitDialog()
{
    // Every opening starts blank; nothing is kept from an earlier one.
    m_message->clear();
    m_currentEdit->clear();
    m_newEdit->clear();
    m_confirmEdit->clear();

    OpResult<bool> empty;
    {
        BusyCursor busy;
        KeySession key(m_device);
        empty = is_access_empty(key);
    }
    if (!empty) {
        spdlog::error("[UpdatePinDlg::OnInitDialog] Failed to query is_access_empty");
        return; // everything stays visible; the user may still try
    }
    if (*empty) {
        // No PIN yet: the user only types and confirms the new one.
        m_currentLabel->hide();
        m_currentEdit->hide();
        m_newEdit->setFocus();
    } else {
        m_currentEdit->setFocus();
    }
}

void UpdatePinDlg::showMessage(const std::string& utf8)
{
    m_message->setText(QString::fromStdString(utf8));
}

void UpdatePinDlg::OnOK()
{
    // A hidden current-PIN field means "no PIN yet", whatever it may hold.
    const std::string currentPin =
        m_currentEdit->isHidden() ? std::string() : m_currentEdit->text().toStdString();
    const std::string newPin = m_newEdit->text().toStdString();
    const std::string confirmPin = m_confirmEdit->text().toStdString();

    if (newPin != confirmPin) {
        showMessage("New PIN and confirm PIN do not match.");
        return;
    }
    if (newPin.empty()) {
        showMessage("PIN is empty.");
        return;
    }

    KeySession key(m_device);
    OpResult<PinPolicyRecord> policy;
    {
        BusyCursor busy;
        policy = read_pin_policy(key);
    }
    if (!policy) {
        showMessage(policy.error().detail);
        return;
    }
    if (const auto admitted = check_pin_complexity(newPin, *policy); !admitted) {
        showMessage(admitted.error().detail);
        return;
    }

    // change_pin writes the record, for which the key waits for a touch; the
    // prompt has to be on screen before the thread blocks.
    showMessage("Please touch the key...");
    m_message->repaint();
    OpResult<void> changed;
    {
        BusyCursor busy;
        changed = change_pin(key, newPin, currentPin);
    }
    if (!changed) {
        showMessage("Failed to change PIN. Error: " + changed.error().detail);
        return;
    }
    accept();
}

} // namespace otp::pin
