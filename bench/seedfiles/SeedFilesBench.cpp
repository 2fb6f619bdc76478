// The XML seed file is replaced whole for every new token: the recorder
// reads it, splices the token's element in before its end, writes a new file
// and flushes it to the disk (fsync) before it renames it over the old one.
// For files of 1,000, 10,000 and 100,000 tokens this program times one such
// append to the XML and CSV files (taking the seed-file lock and reading the
// XML file included) next to pugixml's bare load and save of the same XML
// file, without and with the flush, and prints the ratios.

#include "core/Codecs.h"
#include "records/FolderLock.h"
#include "records/SeedFileRecorder.h"

#include <pugixml.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

using namespace otp;
using namespace otp::core;
using namespace otp::records;

namespace {

using Clock = std::chrono::steady_clock;

TokenDescription makeToken(int n)
{
    TokenDescription token;
    token.algorithm = OtpAlgorithm::Hotp;
    token.hash = n % 2 ? OtpHash::Sha256 : OtpHash::Sha1;
    token.digits = n % 2 ? 8 : 6;
    token.interval = 30;
    char serial[16];
    std::snprintf(serial, sizeof serial, "BK%011d", n);
    token.serial = serial;
    token.seed = SecretBytes(seed_length(token.hash));
    for (std::size_t i = 0; i < token.seed.size(); ++i)
        token.seed.data()[i] = static_cast<uint8_t>(n * 31 + static_cast<int>(i));
    token.user = n % 3 ? std::string() : "user" + std::to_string(n);
    return token;
}

// Fills the folder with seed files of `count` tokens, built through the
// program's own writers on an in-memory document so they look exactly like
// files the program grew token by token.
bool prepare(const std::filesystem::path& dir, int count)
{
    SeedDocument document = load_seed_document(OtpAlgorithm::Hotp, dir);
    std::ofstream csv(seed_csv_path(seed_xml_path(OtpAlgorithm::Hotp, dir)), std::ios::binary);
    csv << seed_csv_header(OtpAlgorithm::Hotp);
    pugi::xml_node tokens = document.xml.first_element_by_path("data/tokens");
    for (int n = 0; n < count; ++n) {
        const TokenDescription token = makeToken(n);
        pugi::xml_node node = tokens.append_child("token");
        node.append_child("crypto").text().set(token.hash == OtpHash::Sha1 ? "HmacSHA1"
                                                                           : "HmacSHA256");
        if (!token.user.empty())
            node.append_child("name").text().set(token.user.c_str());
        node.append_child("digits").text().set(token.digits);
        node.append_child("serial").text().set(token.serial.c_str());
        node.append_child("seed").text().set(to_hex_upper(token.seed.view()).c_str());
        csv << seed_csv_row(token);
    }
    const std::filesystem::path xml = seed_xml_path(OtpAlgorithm::Hotp, dir);
    if (!csv.flush().good() || !document.xml.save_file(xml.c_str(), "\t", pugi::format_indent))
        return false;
    // Owner-only, as the recorder keeps them: it refuses files others can write.
    for (const auto& file : {xml, seed_csv_path(xml)})
        std::filesystem::permissions(file, std::filesystem::perms::owner_read |
                                               std::filesystem::perms::owner_write);
    return true;
}

// What one Save costs: the lock, the XML file read afresh (a new recorder
// caches nothing), both writes. The failures, if any.
std::string recordOnce(const std::filesystem::path& dir, const TokenDescription& token)
{
    SeedFileRecorder recorder(dir);
    const auto folders = recorder.open_folders();
    if (!folders)
        return folders.error().detail;
    const auto locks = acquire_folder_locks(*folders);
    if (!locks)
        return locks.error().detail;
    if (auto checked = recorder.check(token); !checked)
        return checked.error().detail;
    std::string failures;
    for (const RecordOutcome& outcome : recorder.record(token, ""))
        if (outcome.failure)
            failures += outcome.destination.string() + ": " + outcome.failure->detail + "\n";
    return failures;
}

double millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main()
{
    std::printf("%10s %10s %12s %12s %14s %8s %8s\n", "tokens", "XML bytes", "append (ms)",
                "pugixml (ms)", "+fsync (ms)", "ratio", "+fsync");
    for (int count : {1000, 10000, 100000}) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "bench-seedfiles-XXXXXX").string();
        if (!::mkdtemp(pattern.data()) || !prepare(pattern, count)) {
            std::fprintf(stderr, "cannot prepare seed files of %d tokens\n", count);
            return 1;
        }
        const std::filesystem::path dir = pattern;
        const std::filesystem::path xmlPath = seed_xml_path(OtpAlgorithm::Hotp, dir);
        const std::filesystem::path copyPath = dir / "pugixml-save.xml";
        const int runs = count >= 100000 ? 5 : 15;

        std::vector<double> append, bare, synced;
        for (int run = 0; run < runs; ++run) {
            // What one Save costs: the lock, the XML file read afresh, both writes.
            auto start = Clock::now();
            const std::string failures = recordOnce(dir, makeToken(count + run));
            append.push_back(millisecondsSince(start));
            if (!failures.empty()) {
                std::fprintf(stderr, "%s", failures.c_str());
                return 1;
            }

            // Saved to a new file, as the recorder saves: ext4 starts writing
            // a file that was cut to nothing and written again as soon as it
            // is closed, which would slow the next append down.
            start = Clock::now();
            pugi::xml_document plain;
            if (!plain.load_file(xmlPath.c_str()) ||
                !plain.save_file(copyPath.c_str(), "\t", pugi::format_indent)) {
                std::fprintf(stderr, "pugixml cannot load and save %s\n", xmlPath.c_str());
                return 1;
            }
            bare.push_back(millisecondsSince(start));
            std::filesystem::remove(copyPath);

            start = Clock::now();
            pugi::xml_document flushed;
            flushed.load_file(xmlPath.c_str());
            FILE* file = std::fopen(copyPath.c_str(), "wb");
            pugi::xml_writer_file writer(file);
            flushed.save(writer, "\t", pugi::format_indent);
            std::fflush(file);
            ::fsync(::fileno(file));
            std::fclose(file);
            synced.push_back(millisecondsSince(start));
            std::filesystem::remove(copyPath);
        }
        const double a = median(append), b = median(bare), f = median(synced);
        std::printf("%10d %10lld %12.2f %12.2f %14.2f %8.2f %8.2f\n", count,
                    static_cast<long long>(std::filesystem::file_size(xmlPath)), a, b, f, a / b,
                    a / f);
        std::filesystem::remove_all(dir);
    }
    return 0;
}
