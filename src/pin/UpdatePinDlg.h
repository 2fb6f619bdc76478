#pragma once

// Sets the first PIN or changes it. The cheap checks (confirmation, empty,
// complexity against the record on the key) run here before anything is
// written; every failure stays in the dialog's message line and the dialog
// stays open until a change succeeds or the user cancels.

#include <QDialog>
#include <QString>
namespace otp::device {
class DeviceApi;
} // namespace otp::device
class QLabel;
class QLineEdit;
class QPushButton;

namespace otp::pin {

class UpdatePinDlg : public QDialog
{
    Q_OBJECT

public:
    explicit UpdatePinDlg(device::DeviceApi& device, QWidget* parent = nullptr);

    QLabel* currentPinLabel() const { return m_currentLabel; }
    QLineEdit* currentPinEdit() const { return m_currentEdit; }
    QLineEdit* newPinEdit() const { return m_newEdit; }
    QLineEdit* confirmPinEdit() const { return m_confirmEdit; }
    QLabel* messageLabel() const { return m_message; }
    QPushButton* okButton() const { return m_ok; }
    QPushButton* cancelButton() const { return m_cancel; }

private:
    void OnInitDialog();
    void OnOK();
    void showMessage(const std::string& utf8);

    device::DeviceApi& m_device;
    QLabel* m_currentLabel = nullptr;
    QLineEdit* m_currentEdit = nullptr;
    QLineEdit* m_newEdit = nullptr;
    QLineEdit* m_confirmEdit = nullptr;
    QLabel* m_message = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
};

} // namespace otp::pin
