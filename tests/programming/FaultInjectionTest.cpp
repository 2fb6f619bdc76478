// Programming tokens on a failing machine: a disk that fills up part-way and
// a process killed at any moment. Whatever happens, each file a token goes to
// (the XML and CSV seed files, the PSKC container, the virtual key's own
// file) is as it was or complete, and a token the key took but a file did not
// is reported with its seed.

#include "export/PskcFile.h"
#include "programming/ProgramToken.h"
#include "support/FileSizeLimit.h"
#include "support/VirtualKeyDevice.h"

#include "KeyStore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <random>
#include <set>
#include <thread>

namespace {

const QString kSeed = QStringLiteral("3132333435363738393031323334353637383930");
const std::string kKeySerial = "VK1000001";

pskc::PresharedKey containerKey()
{
    pskc::SecretBytes key(16);
    for (std::size_t i = 0; i < key.size(); ++i)
        key.data()[i] = static_cast<uint8_t>(i);
    return {std::move(key), "test key"};
}

// Records into a PSKC container as the command line's --pskc does: the file
// is opened (read and verified) once, and every token replaces it.
class ContainerRecorder final : public TokenRecorder
{
public:
    explicit ContainerRecorder(const QString& path)
        : m_path(path.toStdString()), m_update(pskc::ContainerUpdate::open(m_path, containerKey()))
    {
    }
    bool opened() const { return m_update.has_value(); }

    std::expected<void, QString> record(const SeedFileToken& token) override
    {
        pskc::SecretBytes seed(token.seed);
        const auto added = m_update->add(pskc::make_key_package(
            token.serial,
            token.algorithm == OtpAlgorithm::Hotp ? pskc::OtpKind::Hotp : pskc::OtpKind::Totp,
            token.hash == OtpHash::Sha1 ? pskc::OtpHash::Sha1 : pskc::OtpHash::Sha256, token.digits,
            token.interval, std::move(seed)));
        if (!added)
            return std::unexpected(QStringLiteral("Failed to record the new token in %1: %2\r\n")
                                       .arg(QString::fromStdString(m_path.string()),
                                            QString::fromStdString(added.error().message)));
        return {};
    }
    QStringList destinations(const SeedFileToken&) const override
    {
        return {QString::fromStdString(m_path.string())};
    }

private:
    std::filesystem::path m_path;
    std::expected<pskc::ContainerUpdate, pskc::Error> m_update;
};

NewTokenForm hotpForm(const QString& serial)
{
    NewTokenForm form;
    form.algorithmChoice = 0;
    form.serialText = serial;
    form.seedText = kSeed;
    return form;
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The files one token goes to, by a short name.
struct Files
{
    Files(const QString& seedDir, const std::string& keyDir)
        : paths{{"xml", QDir(seedDir).filePath("hseeds.xml")},
                {"csv", QDir(seedDir).filePath("hseeds.csv")},
                {"pskc", QDir(seedDir).filePath("tokens.pskc")},
                {"key", QString::fromStdString(keyDir + "/" + kKeySerial + ".json")}}
    {
    }
    std::map<std::string, QByteArray> read() const
    {
        std::map<std::string, QByteArray> bytes;
        for (const auto& [name, path] : paths)
            bytes[name] = contents(path);
        return bytes;
    }
    std::map<std::string, QString> paths;
};

struct Programmed
{
    bool onKey = false;
    QString resultText, recordFailures;
};

// Programs one token with the seed files and a container as recorders.
Programmed programInto(VirtualKeyDevice& key, const QString& seedDir, const QString& serial)
{
    SeedFileRecorder seedFiles(seedDir);
    ContainerRecorder container(QDir(seedDir).filePath("tokens.pskc"));
    EXPECT_TRUE(container.opened());
    TokenRecorder* const recorders[] = {&seedFiles, &container};
    const auto programmed = program_token(key, "", hotpForm(serial), recorders, {});
    if (!programmed)
        return {false, programmed.error().message, {}};
    return {true, programmed->resultText, programmed->recordFailures};
}

std::size_t containerTokens(const QString& path)
{
    const auto container = pskc::load_container(path.toStdString(), containerKey());
    return container ? container->packages().size() : 0;
}

// Seed files and a container that already hold many tokens, so that they are
// larger than the key's file: a disk that fills up can then fail any of them.
void fillSeedFolder(const QString& dir)
{
    SeedFileRecorder seedFiles(dir);
    ContainerRecorder container(QDir(dir).filePath("tokens.pskc"));
    ASSERT_TRUE(container.opened());
    for (int n = 0; n < 12; ++n) {
        const SeedFileToken old{OtpAlgorithm::Hotp,
                                OtpHash::Sha1,
                                6,
                                30,
                                "OLD" + std::to_string(n),
                                std::vector<uint8_t>(20, 0x5A),
                                ""};
        ASSERT_TRUE(seedFiles.record(old) && container.record(old));
    }
}

void copyFolder(const QString& from, const QString& to)
{
    for (const QString& name : QDir(from).entryList(QDir::Files))
        ASSERT_TRUE(QFile::copy(QDir(from).filePath(name), QDir(to).filePath(name)));
}

// A token programmed into a key and recorded into full seed files, at every
// file size limit near the old and the new size of any of the four files, and
// at a stride between.
TEST(FullDisk, EachFileIsAsItWasOrCompleteAndEveryFailureIsReportedWithTheSeed)
{
    QTemporaryDir filled;
    fillSeedFolder(filled.path());
    std::map<std::string, QByteArray> before, after;
    {
        VirtualKeyDevice key;
        QTemporaryDir dir;
        copyFolder(filled.path(), dir.path());
        const Files files(dir.path(), key.keyDir());
        before = files.read();
        ASSERT_TRUE(programInto(key, dir.path(), "VK100000101").recordFailures.isEmpty());
        after = files.read();
    }
    std::set<qint64> limits;
    qint64 largest = 0;
    for (const auto& map : {before, after})
        for (const auto& [name, bytes] : map) {
            for (qint64 near = std::max<qint64>(bytes.size() - 2, 0); near <= bytes.size() + 2;
                 ++near)
                limits.insert(near);
            largest = std::max(largest, bytes.size());
        }
    for (qint64 limit = 0; limit < largest; limit += largest / 16)
        limits.insert(limit);

    for (const qint64 limit : limits) {
        SCOPED_TRACE(testing::Message() << "limit " << limit);
        VirtualKeyDevice key;
        QTemporaryDir dir;
        copyFolder(filled.path(), dir.path());
        const Files files(dir.path(), key.keyDir());
        const auto old = files.read();
        Programmed programmed;
        {
            const FileSizeLimit full(static_cast<rlim_t>(limit));
            programmed = programInto(key, dir.path(), "VK100000101");
        }
        const bool keyFits = limit >= after["key"].size();
        ASSERT_EQ(programmed.onKey, keyFits) << programmed.resultText.toStdString();
        const auto now = files.read();
        QStringList failed;
        for (const auto& [name, bytes] : now) {
            // A container is complete when it reads as every token: its IVs are
            // random, so its bytes differ from run to run.
            const bool complete = name == "pskc" ? bytes.size() == after[name].size() &&
                                                       containerTokens(files.paths.at(name)) == 13
                                                 : bytes == after[name];
            const bool fits = keyFits && limit >= after[name].size();
            EXPECT_TRUE(fits ? complete : bytes == old.at(name)) << name;
            if (!fits && name != "key")
                failed << files.paths.at(name);
        }
        // No temporary file is left behind, only the locks.
        for (const QString& folder : {dir.path(), QString::fromStdString(key.keyDir())})
            for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden))
                EXPECT_TRUE(!name.startsWith('.') || name.endsWith(".lock")) << name.toStdString();
        if (!keyFits) {
            EXPECT_TRUE(programmed.resultText.startsWith("Failed to save the new token (error = "))
                << programmed.resultText.toStdString();
            continue;
        }
        EXPECT_TRUE(programmed.resultText.startsWith("Save new token succeeded!\r\nSN=VK100000101, "
                                                     "SEED=" +
                                                     kSeed + "\r\n"));
        QStringList reported;
        for (const QString& line : programmed.recordFailures.split("\r\n", Qt::SkipEmptyParts)) {
            const QString path = line.section(QStringLiteral(": "), 0, 0).section(' ', -1);
            reported << path;
        }
        reported.sort();
        failed.sort();
        EXPECT_EQ(reported, failed) << programmed.recordFailures.toStdString();
    }
}

// Whole UTF-16LE lines, each with the field count of the header.
bool holdsWholeRows(const QByteArray& csv)
{
    if (csv.size() % 2 != 0)
        return false;
    const QString text =
        QString::fromUtf16(reinterpret_cast<const char16_t*>(csv.constData()), csv.size() / 2);
    if (!text.isEmpty() && !text.endsWith("\r\n"))
        return false;
    for (const QString& row : text.split("\r\n", Qt::SkipEmptyParts))
        if (row.count(',') != 1 || row.section(',', 1).trimmed().isEmpty())
            return false;
    return true;
}

int xmlTokens(const QByteArray& xml)
{
    if (xml.isEmpty())
        return 0;
    pugi::xml_document document;
    if (!document.load_buffer(xml.constData(), static_cast<size_t>(xml.size())))
        return -1;
    const pugi::xml_node tokens = document.first_element_by_path("data/tokens");
    if (!tokens)
        return -1;
    return static_cast<int>(std::distance(tokens.begin(), tokens.end()));
}

// A process that programs tokens one after another (removing them again
// before the key is full) is killed at random moments, fifty times; after
// each kill every file reads, and no token recorded before is gone.
TEST(Crash, AKilledProgrammingRunLeavesEveryFileReadableAndLosesNoRecordedToken)
{
    VirtualKeyDevice key;
    QTemporaryDir dir;
    const Files files(dir.path(), key.keyDir());
    // Kills fall within the time of a few tokens, however fast this machine
    // (or this build) programs one.
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(programInto(key, dir.path(), "FIRST").recordFailures.isEmpty());
    const auto perToken = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - start);
    std::mt19937 random(20240611);
    std::uniform_int_distribution<long> moment(0, 4 * perToken.count());
    int xmlBefore = 1;
    std::size_t pskcBefore = 1;
    for (int kill = 0; kill < 50; ++kill) {
        SCOPED_TRACE(testing::Message() << "kill " << kill);
        int progress[2];
        ASSERT_EQ(::pipe(progress), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(progress[0]);
            // The previous run may have been killed with the key nearly full.
            key.OtpReset();
            for (int n = 0;; ++n) {
                const QString serial = QStringLiteral("C%1-%2").arg(kill).arg(n);
                if (!programInto(key, dir.path(), serial).onKey)
                    ::_exit(1);
                (void)!::write(progress[1], "+", 1);
                if (n % 4 == 3)
                    key.OtpReset();
            }
        }
        ::close(progress[1]);
        // Each run records at least one token before the kill, however loaded
        // the machine; the kill then falls anywhere in the tokens that follow.
        char done = 0;
        ASSERT_EQ(::read(progress[0], &done, 1), 1);
        ::close(progress[0]);
        std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the programming loop ended on its own";

        const auto now = files.read();
        const int xml = xmlTokens(now.at("xml"));
        ASSERT_GE(xml, xmlBefore);
        xmlBefore = xml;
        ASSERT_TRUE(holdsWholeRows(now.at("csv")));
        if (!now.at("pskc").isEmpty()) {
            const auto container =
                pskc::load_container(files.paths.at("pskc").toStdString(), containerKey());
            ASSERT_TRUE(container) << container.error().message;
            ASSERT_GE(container->packages().size(), pskcBefore);
            pskcBefore = container->packages().size();
        }
        const auto loaded = vkey::KeyStore(key.keyDir()).load(kKeySerial);
        ASSERT_TRUE(loaded) << loaded.error().what;
    }
    // Every run recorded a token before its kill.
    EXPECT_GT(xmlBefore, 50);
    EXPECT_GT(pskcBefore, 50u);
}

} // namespace
