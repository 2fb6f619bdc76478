#pragma once

// Runs the built vnotp-cli and vnkey as child processes on the test's private
// key directory.

#include <QDir>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <string>

struct ProcessRun
{
    int code = -1;
    std::string out;
    std::string err;
};

// Empties the test's private key folder. False when VN_KEY_DIR is unset (the
// test was started outside CTest): QDir("") is the current folder.
inline bool clear_key_dir()
{
    const QString keys = qEnvironmentVariable("VN_KEY_DIR");
    return !keys.isEmpty() && QDir(keys).removeRecursively();
}

inline QString binary(const char* name)
{
    return QStringLiteral(BIN_DIR "/") + QLatin1String(name);
}

inline ProcessRun run(const char* program, const QStringList& args, const QByteArray& input = {})
{
    QProcess process;
    process.start(program[0] == '/' ? QString::fromLatin1(program) : binary(program), args);
    process.waitForStarted();
    process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(60000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput().toStdString(),
            process.readAllStandardError().toStdString()};
}

inline ProcessRun cli(const QStringList& args, const QByteArray& input = {})
{
    return run("vnotp-cli", args, input);
}

inline void vnkey(const QStringList& args)
{
    run("vnkey", args);
}
