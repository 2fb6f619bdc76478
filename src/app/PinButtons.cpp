#include "app/PinButtons.h"

#include "pin/CPinPolicyDlg.h"
#include "pin/PinAccess.h"
#include "pin/UpdatePinDlg.h"
#include "ui/BusyCursor.h"

#include <QPushButton>

#include <spdlog/spdlog.h>

using namespace otp::core;
using namespace otp::device;
using namespace otp::pskc;
using namespace otp::ui;
using namespace otp::pin;

namespace otp::app {

namespace {

void setCaption(QPushButton* button, const QString& caption)
{
    button->setText(caption);
    // The accessible name follows the caption, or a screen reader would keep
    // announcing the old one.
    button->setAccessibleName(caption);
}

} // namespace

void change_pin_button_status(DeviceApi& device, QPushButton* updatePinButton)
{
    BusyCursor busy(*updatePinButton->window());
    KeySession key(device);
    if (!is_pin_policy_enabled(key)) {
        updatePinButton->setEnabled(false); // the caption stays as it was
        return;
    }
    updatePinButton->setEnabled(true);
    const OpResult<bool> empty = is_access_empty(key);
    if (!empty) {
        spdlog::error("[change_pin_button_status] Failed to check is_access_empty");
        return;
    }
    setCaption(updatePinButton, *empty ? QStringLiteral("Set PIN") : QStringLiteral("Change PIN"));
}

void OnBnClickedUpdatePin(MainWindowPort& window)
{
    bool enabled = false;
    {
        BusyCursor busy;
        KeySession key(window.device());
        enabled = is_pin_policy_enabled(key);
    }
    if (!enabled) {
        window.setStatusText(QStringLiteral("Please enable PIN policy before setting a PIN."));
        return;
    }
    {
        UpdatePinDlg dialog(window.device(), window.dialogParent());
        dialog.exec();
    }
    window.state().cachedPin.clear();
    window.updatePinButton();
}

void OnBnClickedPinPolicy(MainWindowPort& window)
{
    {
        CPinPolicyDlg dialog(window.device(), window.dialogParent());
        dialog.exec();
    }
    window.updatePinButton();
}

} // namespace otp::app
