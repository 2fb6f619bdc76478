// Start-up: the command line, the exit codes and the About box reached with Enter.

#include "app/CAboutDlg.h"
#include "app/CMainDlg.h"
#include "app/CommandLine.h"
#include "app/MessageLoop.h"
#include "programming/SeedDirectory.h"
#include "support/ModalDriver.h"
#include "support/VirtualKeyDevice.h"

#include <QLabel>
#include <QTimer>
#include <QtTest>

namespace {

// Runs the program on a main window (none when control is -1), then closes it
// (control 0) or sends keys to the control. A stuck run ends with 99.
QString readAll(FILE* file)
{
    std::rewind(file);
    QByteArray bytes;
    char buffer[4096];
    while (const size_t n = std::fread(buffer, 1, sizeof buffer, file))
        bytes.append(buffer, qsizetype(n));
    return QString::fromLocal8Bit(bytes);
}

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
    // -1: the command line lets the window start.
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out"); // start of standard output
        QTest::addColumn<QString>("err"); // start of standard error
        const QString usage = QStringLiteral("Usage: vnotp [options]\n");
        const QString none;
        const QString version = QStringLiteral("vnotp ");
        QTest::newRow("none") << QStringList{} << -1 << none << none;
        QTest::newRow("Qt's own options")
            << QStringList{"-platform", "offscreen", "-style", "fusion", "-reverse"} << -1 << none
            << none;
        QTest::newRow("--help") << QStringList{"--help"} << 0 << usage << none;
        QTest::newRow("-h") << QStringList{"-h"} << 0 << usage << none;
        QTest::newRow("--version") << QStringList{"--version"} << 0 << version << none;
        QTest::newRow("-v") << QStringList{"-v"} << 0 << version << none;
        QTest::newRow("unknown option")
            << QStringList{"--bogus"} << 2 << none << "Unknown option 'bogus'.\n" + usage;
        QTest::newRow("no --help-all")
            << QStringList{"--help-all"} << 2 << none << "Unknown option 'help-all'.\n" + usage;
        QTest::newRow("Qt option without its value")
            << QStringList{"-platform"} << 2 << none
            << "Missing value after '-platform'.\n" + usage;
    }
    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        arguments.prepend(QStringLiteral("vnotp"));
        std::vector<QByteArray> storage;
        std::vector<char*> argv;
        for (const QString& a : arguments)
            storage.push_back(a.toLocal8Bit());
        for (QByteArray& a : storage)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int argc = int(arguments.size());
        FILE* outFile = std::tmpfile();
        FILE* errFile = std::tmpfile();
        const std::optional<int> answer = answer_command_line(argc, argv.data(), outFile, errFile);
        const QString outText = readAll(outFile);
        const QString errText = readAll(errFile);
        std::fclose(outFile);
        std::fclose(errFile);
        QCOMPARE(answer.value_or(-1), exitCode);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QVERIFY2(outText.startsWith(out) && outText.isEmpty() == out.isEmpty(),
                 qPrintable(outText));
        QVERIFY2(errText.startsWith(err) && errText.isEmpty() == err.isEmpty(),
                 qPrintable(errText));
        // Every help names the seed folder this very process would write to.
        const QString help = outText + errText;
        if (help.contains(QStringLiteral("Usage:")))
            QVERIFY(help.contains("\nSeed folder in use: " +
                                  QDir::toNativeSeparators(default_seed_directory()) + "\n"));
    }

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
