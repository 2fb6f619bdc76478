#pragma once

// Where an administrator switches PIN protection on or off and sets the
// complexity and expiry values kept on the key. Saving is also how a fresh
// key gets its first policy record. No PIN is asked: whoever runs the tool
// may change the policy.

#include "pin/PinPolicyForm.h"

#include <QDialog>

#include <array>
#include <functional>
#include <string_view>
namespace otp::device {
class DeviceApi;
} // namespace otp::device
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace otp::pin {

class CPinPolicyDlg : public QDialog
{
    Q_OBJECT

public:
    // Appends one line to the diagnostic file log.
    using FileLog = std::function<void(std::string_view message)>;

    // fileLog defaults to the program's file log.
    explicit CPinPolicyDlg(device::DeviceApi& device, QWidget* parent = nullptr,
                           FileLog fileLog = {});

    QCheckBox* enabledBox() const { return m_enabled; }
    QLineEdit* fieldEdit(PolicyField field) const { return m_fields[index(field)].edit; }
    QLabel* fieldLabel(PolicyField field) const { return m_fields[index(field)].label; }
    QLabel* daysLabel() const { return m_daysLabel; }
    QLabel* messageLabel() const { return m_message; }
    QPushButton* okButton() const { return m_ok; }
    QPushButton* cancelButton() const { return m_cancel; }

private:
    struct Field
    {
        QLabel* label = nullptr;
        QLineEdit* edit = nullptr;
    };
    static std::size_t index(PolicyField f) { return static_cast<std::size_t>(f); }

    void OnSaveCmd();
    void showValues(const PolicyValues& values);
    void enableRuleControls(bool enabled);
    void setMessage(const QString& text);

    device::DeviceApi& m_device;
    FileLog m_fileLog;
    QCheckBox* m_enabled = nullptr;
    std::array<Field, kPolicyFieldCount> m_fields{};
    QLabel* m_daysLabel = nullptr;
    QLabel* m_message = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
};

} // namespace otp::pin
