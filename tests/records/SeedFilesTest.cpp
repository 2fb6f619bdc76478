// The clear-text seed files as SeedFileRecorder writes them: byte for byte,
// owner-only; and as they are read back, merged by serial number into key
// packages and a PSKC file. What the recorder's check refuses, and a full
// disk, are tested with program_token (tests/programming/FaultInjectionTest.cpp),
// two writers at once with vnotp-cli (tests/cli/CliFaultTest.cpp).

#include "pskc/PskcFile.h"
#include "records/ContainerConversion.h"
#include "records/RecordsTestSupport.h"
#include "records/SeedConversion.h"
#include "records/SeedFileRecorder.h"
#include "records/SeedFileText.h"
#include "records/SeedFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <numeric>

using namespace otp;
using namespace otp::core;
using namespace otp::pskc;
using namespace otp::records;

namespace {

using enum OtpAlgorithm;
using enum OtpHash;
using pskc::KeyPackage;

const TokenDescription kHotp1 = describedToken(Hotp, Sha1, 6, 30, "VK100000101");
const TokenDescription kHotp2 =
    describedToken(Hotp, Sha256, 8, 60, "VK100000102", "Ann & <Bob>", [] {
        SecretBytes seed(32); // A0 A1 ... BF: the case of the hexadecimal letters shows
        std::iota(seed.data(), seed.data() + 32, uint8_t{0xA0});
        return seed;
    }());
const TokenDescription kTotp1 = describedToken(Totp, Sha1, 6, 60, "VK100000103");
const TokenDescription kTotp2 =
    describedToken(Totp, Sha256, 8, 30, "VK100000104", "ann@example.com");
// Older tools wrote user names with a comma, which the recorder refuses now.
const TokenDescription kTotp3 = describedToken(Totp, Sha1, 6, 30, "VK100000105", "Doe, J\u00f6rg");

std::string expected(const std::string& name)
{
    return slurp(fs::path(RECORDS_TEST_DATA) / name);
}

// New files are owner-only whatever the umask; a file the administrator let
// one group read keeps that, with its group, when it is replaced.
TEST(SeedFiles, FirstAndSecondTokenOfEachAlgorithmGiveTheExpectedOwnerOnlyFiles)
{
    const mode_t oldMask = ::umask(022); // new files would be readable by all
    TempDir dir;
    spit(dir / "hseeds.xml", ""); // an empty XML file is as good as none
    fs::permissions(dir / "hseeds.xml", fs::perms::group_read, fs::perm_options::add);
    SeedFileRecorder recorder(dir.path);
    ASSERT_EQ(record(recorder, kHotp1), "");
    EXPECT_EQ(slurp(dir / "hseeds.xml"), expected("hseeds-one.xml"));
    // Replaced, not rewritten: a reader that has the file open keeps the old tokens.
    std::ifstream reader(dir / "hseeds.xml", std::ios::binary);
    for (const TokenDescription& token : {kHotp2, kTotp1, kTotp2})
        ASSERT_EQ(record(recorder, token), "");
    ::umask(oldMask);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(reader), {}), expected("hseeds-one.xml"));
    const auto files = snapshot(dir.path); // and no temporary file left behind
    EXPECT_EQ(files.size(), 4u);
    for (const auto& [name, bytes] : files) {
        EXPECT_EQ(bytes, expected(name.substr(0, 6) + "-two" + name.substr(6))) << name;
        EXPECT_EQ(fs::status(dir / name).permissions(),
                  fs::perms::owner_read | fs::perms::owner_write |
                      (name == "hseeds.xml" ? fs::perms::group_read : fs::perms::none))
            << name;
    }

    TempDir rowsOnly; // an existing empty CSV file gets no header
    spit(rowsOnly / "tseeds.csv", "");
    spit(rowsOnly / "tseeds.xml", "");
    // Another writer between a recorder's check, which reads the files, and
    // its record replaces the XML file by one that is there as before but is
    // another file: the recorder reads it again rather than writing what it
    // read over the other writer's token.
    SeedFileRecorder second(rowsOnly.path), other(rowsOnly.path);
    ASSERT_TRUE(second.check(kTotp2));
    ASSERT_EQ(record(other, kTotp1), "");
    ASSERT_EQ(record(second, kTotp2), "");
    EXPECT_EQ(slurp(rowsOnly / "tseeds.xml"), expected("tseeds-two.xml"));
    EXPECT_EQ(slurp(rowsOnly / "tseeds.csv"), expected("tseeds-rows-only.csv"));
}

std::string changed(std::string text, std::string_view from, std::string_view to)
{
    return text.replace(text.find(from), from.size(), to);
}

// A token goes into the bytes of a file laid out as the writer lays it out,
// and through the document tree otherwise; either way the file's bytes are
// those the document tree gives.
TEST(SeedFileText, AppendsTheBytesTheDocumentTreeGivesWhateverTheFileHolds)
{
    const std::string two = expected("tseeds-two.xml");
    std::string crlf;
    for (const char c : two)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    // name, bytes, spliced
    const std::vector<std::tuple<std::string, std::string, bool>> cases = {
        {"no file", "", true},
        {"no token", seed_document_bytes(parse_seed_document(Totp, "")), true},
        {"as written", two, true},
        {"escapes, UTF-8", changed(two, "ann@", "J\u00f6rg &amp; &lt;A&gt; \"'"), true},
        {"CRLF", crlf, false},
        {"comment", changed(two, "<tokens>", "<tokens><!-- by hand -->"), false},
        {"attribute", changed(two, "<token>", "<token id=\"7\">"), false},
        {"&quot;", changed(two, "ann@", "&quot;ann&quot;@"), false},
        {"bare >", changed(two, "ann@", "a>b@"), false},
        {"blank text", changed(two, "<name>ann@example.com<", "<name> \t<"), false},
        {"byte-order mark", "\xEF\xBB\xBF" + two, false},
        {"line feed by reference",
         changed(two, "</token>\n\t</tokens>", "</token>&#10;&#9;</tokens>"), false},
        {"element after tokens", changed(two, "</tokens>\n", "</tokens>\n\t<x>1</x>\n"), false},
        {"no last line feed", two.substr(0, two.size() - 1), false},
        {"after the root", two + "<!-- by hand -->\n", false},
        {"unparseable", changed(two, "</seed>", "</sed>"), false},
        {"no tokens element", "<data><header/></data>", false},
    };
    for (const auto& [name, bytes, spliced] : cases) {
        SCOPED_TRACE(name);
        SeedFileText text(Totp, bytes);
        SeedDocument tree = parse_seed_document(Totp, bytes);
        EXPECT_EQ(text.spliced(), spliced);
        ASSERT_EQ(text.unusableReason, tree.unusableReason);
        EXPECT_EQ(text.fromTemplate, tree.fromTemplate);
        if (!text.usable())
            continue;
        for (const TokenDescription& token : {kHotp2, kTotp1})
            EXPECT_EQ(text.append(token), append_seed_token(tree, token));
    }
}

KeyPackage package(TokenDescription token, std::optional<int> digits = {},
                   std::optional<int> interval = {}, std::optional<std::string> user = {})
{
    token.digits = digits.value_or(token.digits);
    token.interval = interval.value_or(token.interval);
    token.user = user.value_or(token.user);
    return pskc::make_key_package(token);
}

// The seed files of the five tokens, and changed copies of two of them.
void write_seed_files(const TempDir& dir)
{
    spit(dir / "tseeds.csv", ""); // rows without a header line
    SeedFileRecorder recorder(dir.path);
    for (const TokenDescription& token : {kHotp1, kHotp2, kTotp1, kTotp2})
        ASSERT_EQ(record(recorder, token), "");
    SeedDocument xml = load_seed_document(Totp, dir.path); // the writers beneath the recorder
    spit(dir / "tseeds.xml", append_seed_token(xml, kTotp3));
    ASSERT_TRUE(write_seed_csv(dir / "tseeds.csv", kTotp3));
    spit(dir / "other.xml", changed(slurp(dir / "hseeds.xml"), "930</seed>", "931</seed>"));
    spit(dir / "tseeds60.xml",
         changed(slurp(dir / "tseeds.xml"), "<timeWindow>30<", "<timeWindow>60<"));
}

TEST(SeedConversion, MergesTheFilesTheRecorderWritesAndRefusesWhatTheyLeaveOpen)
{
    TempDir dir;
    write_seed_files(dir);
    // files, digits given, key packages; the note expected, or a part of the error
    using Case = std::tuple<std::vector<std::string>, std::optional<int>, std::vector<KeyPackage>,
                            std::string, std::optional<Fault>>;
    // clang-format off
    const std::vector<Case> cases = {
        {{"tseeds.csv", "hseeds.xml", "hseeds.csv", "tseeds.xml"}, 6,
         {package(kTotp1), package(kTotp2), package(kTotp3), package(kHotp1), package(kHotp2)},
         "", {}},
        {{"tseeds60.xml"}, {},
         {package(kTotp1, {}, 60), package(kTotp2, {}, 60), package(kTotp3, {}, 60)},
         "VK100000103, VK100000104, VK100000105: no time step in a tseeds.csv; converted with the "
         "time window of 60 seconds from the header of " + (dir / "tseeds60.xml").string(), {}},
        {{"hseeds.csv"}, {}, {}, "the number of digits of VK100000101, VK100000102 is unknown",
         Fault::UnknownDigits},
        {{"hseeds.csv"}, 8, {package(kHotp1, 8), package(kHotp2, 8, {}, "")}, "", {}},
        {{"hseeds.csv", "hseeds.xml", "other.xml"}, {}, {},
         "serial number VK100000101 has two different seeds (in ", Fault::Conflict},
    };
    // clang-format on
    for (const auto& [names, digits, packages, noteOrError, error] : cases) {
        SCOPED_TRACE(testing::PrintToString(names));
        std::vector<fs::path> files;
        for (const std::string& name : names)
            files.push_back(dir / name);
        const auto conversion = convert_seed_files(files, {digits});
        if (error) {
            ASSERT_FALSE(conversion);
            EXPECT_EQ(conversion.error().fault, *error);
            EXPECT_NE(conversion.error().detail.find(noteOrError), std::string::npos)
                << conversion.error().detail;
            continue;
        }
        ASSERT_TRUE(conversion) << conversion.error().detail;
        EXPECT_EQ(conversion->packages, packages);
        EXPECT_EQ(conversion->notes,
                  noteOrError.empty() ? std::vector<std::string>{} : std::vector{noteOrError});
    }
}

// A container that holds one of the serial numbers with another seed is
// refused: it stays as it was, and so do the clear-text files. With the same
// seed the token is already there, and the clear-text files go.
TEST(ContainerConversion, RefusesAnotherSeedUnderAHeldSerialAndRemovesNothing)
{
    TempDir dir;
    write_seed_files(dir);
    const pskc::Credential key = pskc::PresharedKey{bytes_of("0123456789abcdef"), "test.key"};
    const auto holding = [&](SecretBytes seed) {
        auto container = pskc::Container::create(key);
        EXPECT_TRUE(container && container->add(package(describedToken(
                                     Hotp, Sha1, 6, 30, "VK100000101", "", std::move(seed)))));
        EXPECT_TRUE(pskc::save_container(*container, dir / "held.pskc"));
    };
    const ConversionRequest request{
        {dir / "hseeds.xml", dir / "hseeds.csv"}, dir / "held.pskc", {}, true};
    holding(bytes_of("abcdefghijklmnopqrst"));
    const auto before = snapshot(dir.path);
    const auto refused = convert_to_container(request, key);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().fault, Fault::Conflict);
    EXPECT_EQ(refused.error().detail,
              (dir / "held.pskc").string() +
                  ": already holds serial number VK100000101 as another token");
    EXPECT_EQ(snapshot(dir.path), before);

    holding(kHotp1.seed);
    const auto converted = convert_to_container(request, key);
    ASSERT_TRUE(converted) << converted.error().detail;
    EXPECT_EQ(converted->alreadyPresent, std::vector<std::string>{"VK100000101"});
    EXPECT_EQ(converted->added, std::vector<std::string>{"VK100000102"});
    EXPECT_FALSE(fs::exists(request.sources[0]) || fs::exists(request.sources[1]));
}

TEST(SeedFolder, OverrideThenTheBuildTreeThenXdgDataHome)
{
    const auto chosen = [](std::string overrideDir, std::string xdgDataHome, bool inBuildTree,
                           std::string home = "/home/a") {
        return choose_seed_folder({overrideDir, "/opt/bin", inBuildTree, xdgDataHome, home});
    };
    // Without a home no default: not a folder below wherever the program runs.
    EXPECT_EQ(chosen("", "", false, ""), "");
    EXPECT_EQ(chosen("", "data", false, "home"), "");
    EXPECT_EQ(chosen("", "/x/data", false, ""), "/x/data/vnotp");
    EXPECT_EQ(chosen("/srv/seeds/", "", true), "/srv/seeds");
    EXPECT_EQ(chosen("/srv/seeds", "/x/data", false), "/srv/seeds");
    EXPECT_EQ(chosen("", "/x/data", true), "/opt/bin");
    EXPECT_EQ(chosen("", "/x/data", false), "/x/data/vnotp");
    EXPECT_EQ(chosen("", "", false), "/home/a/.local/share/vnotp");
    EXPECT_EQ(chosen("", "data", false), "/home/a/.local/share/vnotp"); // a relative one is ignored
    // This test runs from its build tree: bin/ beside CMakeCache.txt.
    ::unsetenv("VNOTP_SEED_DIR");
    EXPECT_EQ(default_seed_folder(), executable_folder());
}

} // namespace
