#pragma once

// The PIN entry dialog that query_pin_ifn shows before a protected operation.
// OK takes the typed text; Escape or the close box leaves the PIN empty. The
// caller verifies whatever comes back, so there is no Cancel button.

#include <QDialog>
#include <QString>
class QLineEdit;
class QPushButton;

namespace otp::pin {

class PinDlg : public QDialog
{
    Q_OBJECT

public:
    explicit PinDlg(QWidget* parent = nullptr);

    // The PIN as taken by OK; empty after Escape or the close box.
    QString pin() const { return m_pin; }

    QLineEdit* pinEdit() const { return m_pinEdit; }
    QPushButton* okButton() const { return m_ok; }

    void accept() override;

private:
    QString m_pin;
    QLineEdit* m_pinEdit = nullptr;
    QPushButton* m_ok = nullptr;
};

} // namespace otp::pin
