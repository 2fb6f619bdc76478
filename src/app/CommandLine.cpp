#include "app/CommandLine.h"

#include "diag/FileLog.h"
#include "records/SeedFolder.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QStringList>

#include <memory>

using namespace otp::diag;
using namespace otp::records;

namespace otp::app {

namespace {

// The options QGuiApplication and QApplication take themselves: accepted here
// so that they still reach them, and kept out of the help.
void addQtOptions(QCommandLineParser& parser)
{
    const char* const withValue[] = {"platform",        "platformpluginpath",
                                     "platformtheme",   "plugin",
                                     "qwindowgeometry", "geometry",
                                     "qwindowicon",     "qwindowtitle",
                                     "title",           "display",
                                     "session",         "style",
                                     "stylesheet",      "name",
                                     "qmljsdebugger"};
    const char* const flags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};
    for (const char* name : withValue) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char* name : flags) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
}

void print(FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

QString helpText(const QCommandLineParser& parser, const QString& program)
{
    QString text = parser.helpText();
    // Qt names the program as it was called; the help names it as it is known.
    const QString called = QCoreApplication::arguments().value(0);
    if (const qsizetype at = called.isEmpty() ? -1 : text.indexOf(called); at >= 0)
        text.replace(at, called.size(), program);
    text += QStringLiteral(
        "\nSeed files (hseeds.xml, hseeds.csv, tseeds.xml, tseeds.csv) go to\n"
        "$VNOTP_SEED_DIR when it is set; else, for a program run from its build tree,\n"
        "beside the program; else $XDG_DATA_HOME/vnotp (by default\n"
        "~/.local/share/vnotp), created readable by its owner only.\n");
    text +=
        QStringLiteral("Seed folder in use: %1\n")
            .arg(QDir::toNativeSeparators(QString::fromStdString(default_seed_folder().string())));
    text +=
        QStringLiteral("\nThe window's log goes to $XDG_STATE_HOME/vnotp/vnotp.log (by default\n"
                       "~/.local/state/vnotp/vnotp.log), created readable by its owner only.\n");
    text += QStringLiteral("Log file in use: %1\n")
                .arg(QDir::toNativeSeparators(QString::fromStdString(file_log_path().string())));
    return text;
}

} // namespace

std::optional<int> answer_command_line(int& argc, char* argv[], FILE* out, FILE* err)
{
    QCoreApplication::setApplicationName(QStringLiteral("vnotp"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VNOTP_VERSION));

    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        QStringLiteral("Programs and manages the HOTP and TOTP tokens of a Vornik/Tessel USB key.\n"
                       "Without options it opens its window on the one key plugged in."));
    // Not addHelpOption(): its --help-all would list the Qt options that this
    // early, window-less parse cannot describe.
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Displays this help and exits."));
    parser.addOption(help);
    const QCommandLineOption version = parser.addVersionOption();
    addQtOptions(parser);

    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const bool parsed = parser.parse(arguments);
    if (parsed && !parser.isSet(help) && !parser.isSet(version))
        return std::nullopt;

    std::unique_ptr<QCoreApplication> core;
    if (!QCoreApplication::instance())
        core = std::make_unique<QCoreApplication>(argc, argv);
    const QString program = QStringLiteral("vnotp");
    if (!parsed) {
        print(err, parser.errorText() + QLatin1Char('\n') + helpText(parser, program));
        return 2;
    }
    if (parser.isSet(version)) {
        print(out, program + QLatin1Char(' ') + QCoreApplication::applicationVersion() +
                       QLatin1Char('\n'));
        return 0;
    }
    print(out, helpText(parser, program));
    return 0;
}

} // namespace otp::app
