#pragma once

// Runs the built vnotp-cli and vnkey as child processes on the test's private
// key folder (VN_KEY_DIR, set by CTest), and edits a key's file in-process
// where vnkey has no command for it.

#include "KeyStore.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <map>

struct ProcessRun
{
    int code = -1;
    std::string out;
    std::string err;
};

// A child process that runs on while the test goes on, e.g. plugs keys in and out.
class Running
{
public:
    explicit Running(const QStringList& args, const QByteArray& input = {},
                     const QString& program = QStringLiteral(BIN_DIR "/vnotp-cli"),
                     const std::function<void()>& inChild = {})
    {
        if (inChild)
            process.setChildProcessModifier(inChild);
        process.start(program, args);
        process.waitForStarted();
        process.write(input);
        process.closeWriteChannel();
    }

    // Waits, bounded, until standard error has said `text` once more.
    bool said(const QString& text)
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 20000) {
            err += QString::fromUtf8(process.readAllStandardError());
            if (err.count(text) > seen[text])
                return ++seen[text];
            process.waitForReadyRead(100);
        }
        return false;
    }

    ProcessRun finish()
    {
        process.waitForFinished(60000);
        err += QString::fromUtf8(process.readAllStandardError());
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                process.readAllStandardOutput().toStdString(), err.toStdString()};
    }

    QProcess process;
    QString err;
    std::map<QString, qsizetype> seen;
};

// vnotp-cli, unless another program is named.
inline ProcessRun cli(const QStringList& args, const QByteArray& input = {},
                      const QString& program = QStringLiteral(BIN_DIR "/vnotp-cli"))
{
    return Running(args, input, program).finish();
}

inline ProcessRun vnkey(const QStringList& args)
{
    return cli(args, {}, QStringLiteral(BIN_DIR "/vnkey"));
}

inline bool has(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

inline QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Changes a key's file under the key folder's lock, behind the program's back.
inline void edit_key(const QString& serial, const std::function<void(vkey::KeyState&)>& edit)
{
    const vkey::KeyStore store(qEnvironmentVariable("VN_KEY_DIR").toStdString());
    const auto lock = store.lock();
    auto key = store.load(serial.toStdString());
    ASSERT_TRUE(lock && key);
    edit(*key);
    ASSERT_TRUE(store.save(*key));
}

inline void set_pin(const QString& key)
{
    edit_key(key, [](vkey::KeyState& state) { state.accessCode = "1234"; });
}

// An empty key folder, then the keys, touched at once; the first one plugged
// in unless told otherwise. The scratch folder lives as long as the test.
class CliTest : public testing::Test
{
protected:
    void SetUp() override { fresh({"VT20000001"}); }

    void fresh(const QStringList& keys, bool plugFirst = true)
    {
        const QString folder = qEnvironmentVariable("VN_KEY_DIR");
        ASSERT_TRUE(!folder.isEmpty() && QDir(folder).removeRecursively())
            << "run through ctest, which sets VN_KEY_DIR";
        for (const QString& key : keys)
            ASSERT_EQ(vnkey({"create", key, "--touch", "auto:0"}).code, 0);
        if (plugFirst)
            vnkey({"plug", keys.front()});
    }

    // Owner-only, as a seed file or a secret of the user's own is.
    QString write(const QString& name, const QByteArray& bytes)
    {
        QFile file(dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        file.write(bytes);
        return file.fileName();
    }

    // The lines of a UTF-16LE seed CSV file in the scratch folder, its header first.
    QStringList csvRows(const QString& name) const
    {
        const QByteArray raw = contents(dir.filePath(name));
        return QString::fromUtf16(reinterpret_cast<const char16_t*>(raw.constData()),
                                  raw.size() / 2)
            .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    }

    QTemporaryDir dir;
};
