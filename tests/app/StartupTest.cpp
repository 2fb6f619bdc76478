// Start-up and the message loop: the exit codes, the About box reached with
// Enter, and the order in which message filters and idle handlers run.

#include "app/CAboutDlg.h"
#include "app/CMainDlg.h"
#include "app/MessageLoop.h"
#include "support/VirtualKeyDevice.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <functional>

namespace {

// Runs the program's loop on a main window over the virtual key; action runs
// once the loop is going. A guard ends a stuck run with 99 instead of hanging.
int runProgram(VirtualKeyDevice& key, const std::function<void(CMainDlg&)>& action)
{
    AppModule module;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard.start(10000);

    return Run(module, [&](MessageLoop& loop) -> std::unique_ptr<QWidget> {
        if (module.GetMessageLoop() != &loop)
            return nullptr;
        CMainDlg::Options options;
        options.loop = &loop;
        options.keyDir = QString();
        auto window = std::make_unique<CMainDlg>(key, std::move(options));
        if (!window->Create())
            return nullptr;
        CMainDlg* raw = window.get();
        QTimer::singleShot(0, raw, [raw, action] { action(*raw); });
        return window;
    });
}

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

struct UserEventCatcher final : QObject
{
    bool received = false;
    bool event(QEvent* e) override
    {
        received = received || e->type() == QEvent::User;
        return QObject::event(e);
    }
};

} // namespace

class StartupTest : public QObject
{
    Q_OBJECT

private slots:
    void exitCodes_data()
    {
        QTest::addColumn<int>("control");
        QTest::addColumn<int>("key"); // 0: the close box
        QTest::addColumn<int>("exitCode");
        QTest::newRow("Escape") << int(ControlId::About) << int(Qt::Key_Escape) << 2;
        QTest::newRow("Enter on the token list")
            << int(ControlId::TokenList) << int(Qt::Key_Return) << 1;
        QTest::newRow("Enter on the Messages panel")
            << int(ControlId::Messages) << int(Qt::Key_Enter) << 1;
        QTest::newRow("close box") << 0 << 0 << 2;
    }

    void exitCodes()
    {
        QFETCH(int, control);
        QFETCH(int, key);
        QFETCH(int, exitCode);
        VirtualKeyDevice device;
        const int code = runProgram(device, [control, key](CMainDlg& window) {
            if (key == 0)
                window.close();
            else
                QTest::keyClick(window.control(control), Qt::Key(key));
        });
        QCOMPARE(code, exitCode);
    }

    void enterRightAfterStartOpensAbout()
    {
        VirtualKeyDevice device;
        QString aboutText;
        int modalsSeen = 0;
        const int code = runProgram(device, [&](CMainDlg& window) {
            QTimer::singleShot(0, [&, w = &window] {
                auto* about = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
                if (about != nullptr) {
                    ++modalsSeen;
                    aboutText = about->textLabel()->text();
                    QTest::mouseClick(about->findChild<QPushButton*>(), Qt::LeftButton);
                }
                QTest::keyClick(w->control(ControlId::About), Qt::Key_Escape);
            });
            // The focus is on About, so Enter clicks it instead of ending the program.
            QTest::keyClick(window.focusWidget(), Qt::Key_Return);
        });
        QCOMPARE(modalsSeen, 1);
        QCOMPARE(aboutText.section('\n', 0, 0), QString("Vornik/Tessel OTP Programmer G2 (1.0.0)"));
        QCOMPARE(code, 2);
    }

    void failedCreationEndsWithZeroAndRunsNoLoop()
    {
        AppModule module;
        bool loopRan = false;
        QTimer::singleShot(0, [&] { loopRan = true; });
        QCOMPARE(Run(module, [](MessageLoop&) { return nullptr; }), 0);
        QVERIFY(!loopRan);
        QVERIFY(module.GetMessageLoop() == nullptr);
        QCoreApplication::processEvents(); // let the timer go before the next test
    }

    void lastAddedFilterIsAskedFirstAndMayConsume()
    {
        QStringList log;
        Recorder first("first", log), second("second", log, true);
        UserEventCatcher receiver;
        {
            MessageLoop loop;
            loop.AddMessageFilter(&first);
            loop.AddMessageFilter(&second);
            QEvent event(QEvent::User);
            QCoreApplication::sendEvent(&receiver, &event);
            QCOMPARE(log, QStringList{"filter second"});
            QVERIFY(!receiver.received);

            QVERIFY(loop.RemoveMessageFilter(&second));
            QVERIFY(!loop.RemoveMessageFilter(&second));
            QCoreApplication::sendEvent(&receiver, &event);
            QCOMPARE(log, (QStringList{"filter second", "filter first"}));
            QVERIFY(receiver.received);
        }
        // The loop's filters are gone with it.
        log.clear();
        QEvent event(QEvent::User);
        QCoreApplication::sendEvent(&receiver, &event);
        QVERIFY(log.isEmpty());
    }

    void idleHandlersRunInOrderOnlyInTheMainLoop()
    {
        QStringList log;
        Recorder a("a", log), b("b", log);
        MessageLoop loop;
        loop.AddIdleHandler(&a);
        loop.AddIdleHandler(&b);
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

        QVERIFY(log.size() >= 2);
        QCOMPARE(log.mid(0, 2), (QStringList{"idle a", "idle b"}));
        QCOMPARE(duringNested, qsizetype(0));

        QVERIFY(loop.RemoveIdleHandler(&a));
        log.clear();
        QTimer::singleShot(20, [] { QCoreApplication::exit(0); });
        loop.Run();
        QVERIFY(!log.isEmpty());
        QVERIFY(!log.contains("idle a"));
    }
};

QTEST_MAIN(StartupTest)
#include "StartupTest.moc"
