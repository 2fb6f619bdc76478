#pragma once

// Asks for a PSKC file's password, with the echo off; twice for a file that
// does not exist yet, since a mistyped password would lock its tokens away.

#include "core/Secret.h"

#include <QDialog>
class QLabel;
class QLineEdit;

namespace otp::app {

class PskcPasswordDlg : public QDialog
{
public:
    PskcPasswordDlg(const QString& file, bool confirm, QWidget* parent = nullptr);

    // The password as OK took it; the edits are emptied then.
    const core::Password& password() const { return m_password; }

    void accept() override;

private:
    core::Password m_password;
    QLineEdit* m_edit = nullptr;
    QLineEdit* m_repeat = nullptr; // null unless confirming
    QLabel* m_status = nullptr;
};

} // namespace otp::app
