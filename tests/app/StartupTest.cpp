// Start-up and the message loop: the exit codes, the About box reached with
// Enter, and the order in which message filters and idle handlers run.

#include "app/CAboutDlg.h"
#include "app/CMainDlg.h"
#include "app/MessageLoop.h"
#include "support/ModalDriver.h"
#include "support/VirtualKeyDevice.h"

#include <QLabel>
#include <QTimer>
#include <QtTest>

#include <functional>

namespace {

// Runs the program's loop on a main window over the virtual key (none when
// control is -1), then closes the window (control 0) or sends keys to the
// control. A guard ends a stuck run with 99 instead of hanging.
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

// A message filter and idle handler that logs what it sees.
struct Recorder final : MessageFilter, IdleHandler
{
    Recorder(QString name, QStringList& log, bool consume = false)
        : name(std::move(name)), log(log), consume(consume)
    {
    }
    bool PreTranslateMessage(QObject*, QEvent* event) override
    {
        if (event->type() != QEvent::User)
            return false;
        log << "filter " + name;
        return consume;
    }
    bool OnIdle() override
    {
        log << "idle " + name;
        return false;
    }
    QString name;
    QStringList& log;
    bool consume;
};

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

    void filtersLastAddedFirstIdleHandlersOnlyInTheMainLoop()
    {
        QStringList log;
        Recorder first("first", log), second("second", log, true);
        QObject receiver;
        MessageLoop loop;
        loop.AddMessageFilter(&first);
        loop.AddMessageFilter(&second);
        QEvent event(QEvent::User);
        QCoreApplication::sendEvent(&receiver, &event);
        QCOMPARE(log, QStringList{"filter second"}); // consumed: first is not asked
        QVERIFY(loop.RemoveMessageFilter(&second));
        QCoreApplication::sendEvent(&receiver, &event);
        QCOMPARE(log, (QStringList{"filter second", "filter first"}));

        log.clear();
        loop.AddIdleHandler(&first);
        loop.AddIdleHandler(&second);
        qsizetype duringNested = -1;
        QTimer::singleShot(20, [&] {
            const qsizetype before = log.size();
            QEventLoop nested; // as a modal dialog runs one
            QTimer::singleShot(50, &nested, &QEventLoop::quit);
            nested.exec();
            duringNested = log.size() - before;
            QCoreApplication::exit(7);
        });
        QCOMPARE(loop.Run(), 7);
        QCOMPARE(log.mid(0, 2), (QStringList{"idle first", "idle second"}));
        QCOMPARE(duringNested, qsizetype(0));
    }
};
QTEST_MAIN(StartupTest)
#include "StartupTest.moc"
