// Start-up: the exit codes and the About box reached with Enter.

#include "app/CAboutDlg.h"
#include "app/CMainDlg.h"
#include "app/MessageLoop.h"
#include "support/ModalDriver.h"
#include "support/VirtualKeyDevice.h"

#include <QLabel>
#include <QTimer>
#include <QtTest>

namespace {

// Runs the program on a main window (none when control is -1), then closes it
// (control 0) or sends keys to the control. A stuck run ends with 99.
int runProgram(int control, const QList<int>& keys)
{
    VirtualKeyDevice key;
    AppModule module;
    QObject guard;
    QTimer::singleShot(10000, &guard, [] { QCoreApplication::exit(99); });
    return Run(module, [&](MessageLoop& loop) -> std::unique_ptr<QWidget> {
        if (control < 0 || module.GetMessageLoop() != &loop)
            return nullptr;
        auto window = std::make_unique<CMainDlg>(key, CMainDlg::Options{&loop, QString()});
        if (!window->Create())
            return nullptr;
        QTimer::singleShot(0, window.get(), [w = window.get(), control, keys] {
            if (control == 0)
                w->close();
            for (const int k : keys)
                QTest::keyClick(w->control(control), Qt::Key(k));
        });
        return window;
    });
}

} // namespace

class StartupTest : public QObject
{
    Q_OBJECT

private slots:
    void exitCodes_data()
    {
        QTest::addColumn<int>("control");
        QTest::addColumn<QList<int>>("keys");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("about"); // first line of each About box that opened
        QTest::newRow("Enter on the token list")
            << int(ControlId::TokenList) << QList<int>{Qt::Key_Return} << 1 << "";
        QTest::newRow("keypad Enter on the Messages panel")
            << int(ControlId::Messages) << QList<int>{Qt::Key_Enter} << 1 << "";
        QTest::newRow("Enter on About opens the box; Escape")
            << int(ControlId::About) << QList<int>{Qt::Key_Return, Qt::Key_Escape} << 2
            << "Vornik/Tessel OTP Programmer G2 (1.0.0)";
        QTest::newRow("close box") << 0 << QList<int>{} << 2 << "";
        QTest::newRow("no window") << -1 << QList<int>{} << 0 << "";
    }

    void exitCodes()
    {
        QFETCH(int, control);
        QFETCH(QList<int>, keys);
        QFETCH(int, exitCode);
        QFETCH(QString, about);
        QString seen;
        ModalDriver driver([&seen](QWidget* dialog) {
            auto* box = qobject_cast<CAboutDlg*>(dialog);
            seen += box ? box->textLabel()->text().section('\n', 0, 0) : "another dialog";
        });
        QCOMPARE(runProgram(control, keys), exitCode);
        QCOMPARE(seen, about);
    }
};
QTEST_MAIN(StartupTest)
#include "StartupTest.moc"
