#pragma once

// The Seed records dialog: where New Token records each new token's seed.
// OK takes the choice (at least one place must be chosen); Cancel, Escape and
// the close box leave it as it was.

#include "app/SeedRecordsChoice.h"

#include <QDialog>
class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;

namespace otp::app {

class SeedRecordsDlg : public QDialog
{
public:
    // `seedFolder` is shown beside the seed files' check box.
    SeedRecordsDlg(const SeedRecordsChoice& choice, const QString& seedFolder,
                   QWidget* parent = nullptr);

    // The choice as OK took it.
    const SeedRecordsChoice& choice() const { return m_choice; }

    void accept() override;

private:
    QLineEdit* addFileRow(const QString& label, const char* name, bool save);

    SeedRecordsChoice m_choice;
    QCheckBox* m_seedFiles = nullptr;
    QLineEdit* m_pskcFile = nullptr;
    QLineEdit* m_pskcKeyFile = nullptr;
    QComboBox* m_pskcProfile = nullptr;
    QLineEdit* m_oathUsersFile = nullptr;
    QCheckBox* m_oathUsersReplace = nullptr;
    QLabel* m_status = nullptr;
    QGridLayout* m_files = nullptr;
};

} // namespace otp::app
