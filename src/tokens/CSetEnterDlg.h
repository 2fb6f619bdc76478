#pragma once

// The Set ENTER dialog (template 204): one check box, "Append ENTER to OTP",
// with Save and Cancel. exec() answers kSave (1) for Save and kCancel (2) for
// Cancel, Escape and the close box; enterChoice() then holds 1 or 0.

#include <QDialog>

#include <cstdint>
class QCheckBox;
class QPushButton;

namespace otp::tokens {

class CSetEnterDlg : public QDialog
{
public:
    static constexpr int kSave = 1;
    static constexpr int kCancel = 2;

    explicit CSetEnterDlg(QWidget* parent = nullptr);

    // 1 when the key should type ENTER after an OTP, else 0. Starts at 1: the
    // key's current setting cannot be read, so the dialog always offers the
    // usual choice.
    int32_t enterChoice() const { return m_enterChoice; }

    void accept() override;
    void reject() override;

private:
    int32_t m_enterChoice = 1;
    QCheckBox* m_appendEnter = nullptr;
    QPushButton* m_save = nullptr;
    QPushButton* m_cancel = nullptr;
};

} // namespace otp::tokens
