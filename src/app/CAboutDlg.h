#pragma once

#include <QDialog>
class QLabel;

namespace otp::app {

// The About box: the icon, the program's name and version, and OK. OK ends it
// with 1, Escape and the close box with 2; nobody reads the result.
class CAboutDlg final : public QDialog
{
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget* parent);

    QLabel* textLabel() const { return m_text; }

protected:
    void showEvent(QShowEvent* event) override;

public slots:
    void reject() override;

private:
    QLabel* m_text = nullptr;
};

} // namespace otp::app
