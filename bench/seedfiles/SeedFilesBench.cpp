// The XML seed file is rewritten whole for every new token, so recording a
// token costs at least one load and one save of the file. This program shows
// how much the program adds to that: for files of 1,000, 10,000 and 100,000
// tokens it times one append of a token to the XML and CSV files (taking the
// seed-file lock and reading the XML file included) and pugixml's bare load
// and save of the same XML file, and prints the ratio.

#include "programming/NewToken.h"
#include "programming/SeedFiles.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <pugixml.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

SeedFileToken makeToken(int n)
{
    SeedFileToken token;
    token.algorithm = OtpAlgorithm::Hotp;
    token.hash = n % 2 ? OtpHash::Sha256 : OtpHash::Sha1;
    token.digits = n % 2 ? 8 : 6;
    token.interval = 30;
    char serial[16];
    std::snprintf(serial, sizeof serial, "BK%011d", n);
    token.serial = serial;
    token.seed.resize(token.hash == OtpHash::Sha1 ? 20 : 32);
    for (std::size_t i = 0; i < token.seed.size(); ++i)
        token.seed[i] = static_cast<uint8_t>(n * 31 + static_cast<int>(i));
    token.userName = n % 3 ? QString() : QStringLiteral("user%1").arg(n);
    return token;
}

// Fills the directory with seed files of `count` tokens, built through the
// program's own writers on an in-memory document so they look exactly like
// files the program grew token by token.
bool prepare(const QString& dir, int count)
{
    SeedDocument document = load_seed_document(OtpAlgorithm::Hotp, dir);
    QFile csv(seed_csv_path(seed_xml_path(OtpAlgorithm::Hotp, dir)));
    if (!csv.open(QIODevice::WriteOnly))
        return false;
    csv.write(seed_csv_header(OtpAlgorithm::Hotp));
    pugi::xml_node tokens = document.xml.first_element_by_path("data/tokens");
    for (int n = 0; n < count; ++n) {
        const SeedFileToken token = makeToken(n);
        pugi::xml_node node = tokens.append_child("token");
        node.append_child("crypto").text().set(token.hash == OtpHash::Sha1 ? "HmacSHA1"
                                                                           : "HmacSHA256");
        if (!token.userName.isEmpty())
            node.append_child("name").text().set(token.userName.toStdString().c_str());
        node.append_child("digits").text().set(token.digits);
        node.append_child("serial").text().set(token.serial.c_str());
        std::string hex;
        for (uint8_t b : token.seed) {
            char pair[3];
            std::snprintf(pair, sizeof pair, "%02X", b);
            hex += pair;
        }
        node.append_child("seed").text().set(hex.c_str());
        csv.write(seed_csv_row(token));
    }
    return document.xml.save_file(seed_xml_path(OtpAlgorithm::Hotp, dir).toLocal8Bit().constData(),
                                  "\t", pugi::format_indent);
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
    std::printf("%10s %10s %14s %14s %8s\n", "tokens", "XML bytes", "append (ms)", "pugixml (ms)",
                "ratio");
    for (int count : {1000, 10000, 100000}) {
        QTemporaryDir dir;
        if (!dir.isValid() || !prepare(dir.path(), count)) {
            std::fprintf(stderr, "cannot prepare seed files of %d tokens\n", count);
            return 1;
        }
        const QString xmlPath = seed_xml_path(OtpAlgorithm::Hotp, dir.path());
        const QByteArray xmlPath8 = xmlPath.toLocal8Bit();
        const int runs = count >= 100000 ? 5 : 15;

        std::vector<double> append, bare;
        for (int run = 0; run < runs; ++run) {
            // What one Save costs: the lock, the XML file read afresh, both writes.
            auto start = Clock::now();
            const QString failures = export_seed_files(dir.path(), makeToken(count + run));
            append.push_back(millisecondsSince(start));
            if (!failures.isEmpty()) {
                std::fprintf(stderr, "%s", failures.toLocal8Bit().constData());
                return 1;
            }

            start = Clock::now();
            pugi::xml_document plain;
            if (!plain.load_file(xmlPath8.constData()) ||
                !plain.save_file(xmlPath8.constData(), "\t", pugi::format_indent)) {
                std::fprintf(stderr, "pugixml cannot load and save %s\n", xmlPath8.constData());
                return 1;
            }
            bare.push_back(millisecondsSince(start));
        }
        const double a = median(append), b = median(bare);
        std::printf("%10d %10lld %14.2f %14.2f %8.2f\n", count,
                    static_cast<long long>(QFile(xmlPath).size()), a, b, a / b);
    }
    return 0;
}
