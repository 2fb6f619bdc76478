// The tool's own time per token while `batch` programs 200 tokens over ten
// virtual keys that are touched at once (touch auto:0), with TOTP seed files
// that already hold 1,000 and then 10,000 tokens. The time splits into device
// time (inside the device library), seed-file time (inside the seed-file
// recorder) and the rest; the person swapping keys is taken out. Two
// baselines are measured in the same run: the device library alone
// programming the same number of tokens with no tool around it, and pugixml
// alone loading and saving the seed document once. The seed-file time is
// shown for the recorder as a batch keeps it (the files read once, kept
// between tokens) and for a fresh recorder per token, which reads the whole
// file again for every token, as every token once did.

#include "cli/Batch.h"
#include "core/Codecs.h"
#include "device/DeviceApi.h"
#include "programming/SeedHandling.h"
#include "records/SeedFileRecorder.h"

#include "KeyStore.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

using namespace otp;
using namespace otp::core;
using namespace otp::device;
using namespace otp::pskc;
using namespace otp::records;
using namespace otp::pin;
using namespace otp::programming;
using namespace otp::cli;

namespace {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

constexpr int kKeys = 10;
constexpr int kTokensPerKey = 20;

std::string keySerial(char family, int n)
{
    char serial[16];
    std::snprintf(serial, sizeof serial, "V%c%08d", family, n);
    return serial;
}

void createKeys(const vkey::KeyStore& store, char family)
{
    for (int n = 0; n < kKeys; ++n) {
        vkey::KeyState key;
        key.serial = keySerial(family, n);
        key.touch.delayMs = 0;
        (void)store.create(key);
    }
}

// A folder of its own, removed at the end.
struct TempDir
{
    std::filesystem::path path = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "bench-XXXXXX").string();
        return std::filesystem::path(::mkdtemp(pattern.data()) ? pattern : std::string());
    }();
    ~TempDir()
    {
        if (!path.empty())
            std::filesystem::remove_all(path);
    }
};

// TOTP seed files of `recorded` tokens, built on one in-memory document.
bool prefill(const std::filesystem::path& dir, int recorded)
{
    SeedDocument document = load_seed_document(OtpAlgorithm::Totp, dir);
    std::ofstream csv(seed_csv_path(seed_xml_path(OtpAlgorithm::Totp, dir)), std::ios::binary);
    csv << seed_csv_header(OtpAlgorithm::Totp);
    pugi::xml_node tokens = document.xml.first_element_by_path("data/tokens");
    for (int n = 0; n < recorded; ++n) {
        TokenDescription token;
        char serial[16];
        std::snprintf(serial, sizeof serial, "OLD%010d", n);
        token.serial = serial;
        token.seed = SecretBytes(std::vector<uint8_t>(20, static_cast<uint8_t>(n)));
        pugi::xml_node node = tokens.append_child("token");
        node.append_child("crypto").text().set("HmacSHA1");
        node.append_child("digits").text().set(6);
        node.append_child("serial").text().set(serial);
        node.append_child("seed").text().set(to_hex_upper(token.seed.view()).c_str());
        csv << seed_csv_row(token);
    }
    const std::filesystem::path xml = seed_xml_path(OtpAlgorithm::Totp, dir);
    if (!csv.flush().good() || !document.xml.save_file(xml.c_str(), "\t", pugi::format_indent))
        return false;
    // Owner-only, as the recorder keeps them: it refuses files others can write.
    for (const auto& file : {xml, seed_csv_path(xml)})
        std::filesystem::permissions(file, std::filesystem::perms::owner_read |
                                               std::filesystem::perms::owner_write);
    return true;
}

// The device library with a stopwatch around every call, and the person who
// pulls a programmed key and plugs the next (not timed).
class TimedKeys final : public DeviceApi
{
public:
    TimedKeys(const vkey::KeyStore& store, char family) : m_store(store), m_family(family)
    {
        (void)m_store.plug(keySerial(m_family, 0));
    }

    Seconds device{};
    Seconds swapping{};

    // The batch ends with its last key, without waiting for it to be pulled
    // out; the person pulls it before the next batch, which would otherwise
    // find two keys plugged in and wait for one of them to go.
    void pullLast() { (void)m_store.unplug(keySerial(m_family, m_key)); }

    uint32_t ListDevice(uint32_t* reserved, uint32_t flags) override
    {
        if (m_programmed == kTokensPerKey) {
            const auto start = Clock::now();
            (void)m_store.unplug(keySerial(m_family, m_key));
            if (++m_key < kKeys)
                (void)m_store.plug(keySerial(m_family, m_key));
            m_programmed = 0;
            swapping += Clock::now() - start;
        }
        return timed([&] { return m_lib.ListDevice(reserved, flags); });
    }
    uint32_t GetDeviceInfo(DeviceInfoRecord* info) override
    {
        return timed([&] { return m_lib.GetDeviceInfo(info); });
    }
    uint32_t OtpList(uint32_t slot, OtpTokenRecord* records) override
    {
        return timed([&] { return m_lib.OtpList(slot, records); });
    }
    uint32_t OtpPersonalize(OtpTokenRecord record, const char* access, uint32_t accessLen,
                            uint8_t flag) override
    {
        ++m_programmed;
        return timed([&] { return m_lib.OtpPersonalize(record, access, accessLen, flag); });
    }
    uint32_t OtpCalculate(OtpTokenRecord record, const char* challenge, uint32_t challengeLen,
                          char* otp, uint32_t* reserved, const char* access,
                          uint32_t accessLen) override
    {
        return timed([&] {
            return m_lib.OtpCalculate(record, challenge, challengeLen, otp, reserved, access,
                                      accessLen);
        });
    }
    uint32_t OtpDelete(OtpTokenRecord record, const char* access, uint32_t accessLen) override
    {
        return timed([&] { return m_lib.OtpDelete(record, access, accessLen); });
    }
    uint32_t OtpReset() override
    {
        return timed([&] { return m_lib.OtpReset(); });
    }
    uint32_t OtpSetValueWithEnter(uint8_t enter) override
    {
        return timed([&] { return m_lib.OtpSetValueWithEnter(enter); });
    }
    uint32_t OtpHasAccess(uint32_t slot, uint8_t* hasAccess) override
    {
        return timed([&] { return m_lib.OtpHasAccess(slot, hasAccess); });
    }
    uint32_t OtpSetAccess(uint32_t slot, const char* code, uint32_t codeLen) override
    {
        return timed([&] { return m_lib.OtpSetAccess(slot, code, codeLen); });
    }
    uint32_t OtpChangeAccess(uint32_t slot, const char* oldCode, uint32_t oldLen,
                             const char* newCode, uint32_t newLen) override
    {
        return timed([&] { return m_lib.OtpChangeAccess(slot, oldCode, oldLen, newCode, newLen); });
    }

private:
    template <class F> uint32_t timed(F&& call)
    {
        const auto start = Clock::now();
        const uint32_t status = call();
        device += Clock::now() - start;
        return status;
    }

    const vkey::KeyStore& m_store;
    const char m_family;
    LinkedDeviceApi m_lib;
    int m_key = 0;
    int m_programmed = 0;
};

// The seed-file recorder with a stopwatch around its check (which reads the
// XML file when it changed) and its record.
class TimedRecorder final : public Recorder
{
public:
    explicit TimedRecorder(Recorder& inner) : m_inner(inner) {}
    Seconds spent{};

    OpResult<std::vector<const OpenFolder*>> open_folders() override
    {
        return m_inner.open_folders();
    }
    OpResult<void> check(const TokenDescription& token) override
    {
        const auto start = Clock::now();
        auto checked = m_inner.check(token);
        spent += Clock::now() - start;
        return checked;
    }
    std::vector<RecordOutcome> record(const TokenDescription& token,
                                      std::string_view keySerial) override
    {
        const auto start = Clock::now();
        auto recorded = m_inner.record(token, keySerial);
        spent += Clock::now() - start;
        return recorded;
    }

private:
    Recorder& m_inner;
};

// A recorder made afresh for every token: nothing is kept between tokens, so
// every token reads and parses the whole XML file before it writes it.
class FreshRecorder final : public Recorder
{
public:
    explicit FreshRecorder(std::filesystem::path folder) : m_folder(std::move(folder)) {}

    OpResult<std::vector<const OpenFolder*>> open_folders() override
    {
        m_recorder.emplace(m_folder);
        return m_recorder->open_folders();
    }
    OpResult<void> check(const TokenDescription& token) override
    {
        return m_recorder->check(token);
    }
    std::vector<RecordOutcome> record(const TokenDescription& token,
                                      std::string_view keySerial) override
    {
        return m_recorder->record(token, keySerial);
    }

private:
    std::filesystem::path m_folder;
    std::optional<SeedFileRecorder> m_recorder;
};

struct BatchRun
{
    Seconds total{};
    Seconds device{};
    Seconds seedFiles{};
};

// One batch of kKeys keys of `family` into the seed folder through `recorder`.
std::optional<BatchRun> runBatch(const vkey::KeyStore& store, char family,
                                 const std::filesystem::path& seeds, Recorder& recorder)
{
    createKeys(store, family);
    TimedKeys device(store, family);
    std::ostringstream out, err;
    CliContext context(device, out, err);
    TimedRecorder timed(recorder);
    Recorder* const recorders[] = {&timed};
    BatchSettings settings;
    settings.keys = kKeys;
    settings.tokensPerKey = kTokensPerKey;
    settings.token.outDir = seeds.string();
    settings.poll = std::chrono::milliseconds(0);

    const auto start = Clock::now();
    const BatchSummary summary = run_batch(context, settings, recorders);
    const Seconds total = Clock::now() - start - device.swapping;
    device.pullLast();
    if (summary.tokensProgrammed != kKeys * kTokensPerKey) {
        std::fprintf(stderr, "batch programmed %d tokens:\n%s\n", summary.tokensProgrammed,
                     err.str().c_str());
        return std::nullopt;
    }
    return BatchRun{total, device.device, timed.spent};
}

// pugixml alone loading the seed document as the batch left it and saving it
// to a file of its own: the median of five, without and with the flush to the
// disk (fsync) that the recorder does so that a recorded token survives a
// crash.
std::pair<Seconds, Seconds> pugixmlLoadSave(const std::filesystem::path& seeds)
{
    const std::filesystem::path xmlPath = seed_xml_path(OtpAlgorithm::Totp, seeds);
    const std::filesystem::path copy = seeds / "pugixml-save.xml";
    std::vector<Seconds> plain, synced;
    for (int i = 0; i < 5; ++i) {
        auto start = Clock::now();
        {
            pugi::xml_document xml;
            xml.load_file(xmlPath.c_str());
            xml.save_file(copy.c_str(), "\t", pugi::format_indent);
        }
        plain.push_back(Clock::now() - start);
        std::filesystem::remove(copy);
        start = Clock::now();
        {
            pugi::xml_document xml;
            xml.load_file(xmlPath.c_str());
            FILE* file = std::fopen(copy.c_str(), "wb");
            pugi::xml_writer_file writer(file);
            xml.save(writer, "\t", pugi::format_indent);
            std::fflush(file);
            ::fsync(::fileno(file));
            std::fclose(file);
        }
        synced.push_back(Clock::now() - start);
        std::filesystem::remove(copy);
    }
    std::ranges::sort(plain);
    std::ranges::sort(synced);
    return {plain[2], synced[2]};
}

// The device library alone: the same number of tokens, one key after another.
Seconds baseline(const vkey::KeyStore& store)
{
    LinkedDeviceApi lib;
    Seconds spent{};
    for (int k = 0; k < kKeys; ++k) {
        (void)store.plug(keySerial('A', k));
        const auto start = Clock::now();
        for (int t = 0; t < kTokensPerKey; ++t) {
            OtpTokenRecord record{};
            record.slot = VN_SLOT_ALL;
            record.type = VN_TYPE_TOTP;
            record.hash = VN_HASH_SHA1;
            record.digits = 6;
            record.interval = 30;
            std::snprintf(record.serial, sizeof record.serial, "%s%02d", keySerial('A', k).c_str(),
                          t + 1);
            record.seedLength = 20;
            generate_seed(reinterpret_cast<uint8_t*>(record.seed), 20);
            lib.OtpPersonalize(record, "", 0, 1);
        }
        spent += Clock::now() - start;
        (void)store.unplug(keySerial('A', k));
    }
    return spent;
}

} // namespace

int main()
{
    TempDir keys;
    ::setenv("VN_KEY_DIR", (keys.path / "keys").c_str(), 1);
    const vkey::KeyStore store((keys.path / "keys").string());
    if (keys.path.empty() || !vkey::ensureKeyDir(store.dir())) {
        std::fprintf(stderr, "cannot prepare the keys\n");
        return 1;
    }
    for (const std::string& serial : store.plugged())
        (void)store.unplug(serial);
    createKeys(store, 'A');
    const Seconds base = baseline(store);

    const double n = kKeys * kTokensPerKey;
    auto ms = [n](Seconds s) { return s.count() * 1000.0 / n; };
    std::printf("batch: %d keys x %d tokens, touch auto:0, TOTP seed files\n", kKeys,
                kTokensPerKey);
    std::printf("seed-file time per token: the recorder kept between tokens, a fresh one per\n"
                "token, and pugixml alone loading and saving the same document once (plain;\n"
                "with fsync); the ratios are the kept recorder's\n");
    std::printf("%9s %10s %10s %10s %12s %10s %12s\n", "recorded", "kept", "fresh", "load+save",
                "+fsync", "kept/l+s", "kept/+fsync");
    char family = 'B';
    std::optional<BatchRun> last;
    for (const int recorded : {1000, 10000}) {
        TempDir kept, fresh;
        if (!prefill(kept.path, recorded) || !prefill(fresh.path, recorded)) {
            std::fprintf(stderr, "cannot prepare the seed files\n");
            return 1;
        }
        SeedFileRecorder keptRecorder(kept.path);
        const auto keptRun = runBatch(store, family++, kept.path, keptRecorder);
        FreshRecorder freshRecorder(fresh.path);
        const auto freshRun = runBatch(store, family++, fresh.path, freshRecorder);
        if (!keptRun || !freshRun)
            return 1;
        const auto [save, synced] = pugixmlLoadSave(kept.path);
        const double saveMs = save.count() * 1000.0, syncedMs = synced.count() * 1000.0;
        std::printf("%9d %7.2f ms %7.2f ms %7.2f ms %9.2f ms %10.2f %12.2f\n", recorded,
                    ms(keptRun->seedFiles), ms(freshRun->seedFiles), saveMs, syncedMs,
                    ms(keptRun->seedFiles) / saveMs, ms(keptRun->seedFiles) / syncedMs);
        last = keptRun;
    }

    const Seconds rest = last->total - last->device - last->seedFiles;
    std::printf("\nat 10000 recorded tokens, the recorder kept as a batch keeps it:\n");
    std::printf("tool time per token        %8.2f ms\n", ms(last->total));
    std::printf("  device library           %8.2f ms (%4.0f%%)\n", ms(last->device),
                100.0 * last->device / last->total);
    std::printf("  seed files               %8.2f ms (%4.0f%%)\n", ms(last->seedFiles),
                100.0 * last->seedFiles / last->total);
    std::printf("  everything else          %8.2f ms (%4.0f%%)\n", ms(rest),
                100.0 * rest / last->total);
    std::printf("baseline: library alone    %8.2f ms per token\n", ms(base));
    std::printf("ratio tool / baseline      %8.1f\n", last->total / base);
    std::printf("ratio seed files / baseline%8.1f\n", last->seedFiles / base);
    return 0;
}
