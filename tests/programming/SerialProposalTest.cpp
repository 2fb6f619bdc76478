#include "programming/SerialProposal.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> numbered(const std::string& prefix, int from, int to, int skip = -1)
{
    std::vector<std::string> serials;
    for (int n = from; n <= to; ++n)
        if (n != skip)
            serials.push_back(prefix + (n < 10 ? "0" : "") + std::to_string(n));
    return serials;
}

bool looksRandom(const std::string& serial)
{
    return serial.size() == 13 && serial.starts_with("0000") &&
           serial.find_first_not_of("123456789", 4) == std::string::npos;
}

struct ProposalCase
{
    const char* name;
    std::vector<std::string> listed;
    std::string prefix;
    std::string expected; // empty: a fresh random serial number
};

TEST(NextSerialNumber, FollowsTheHighestCountAndFillsGapsAfter99)
{
    auto upTo99Without42 = numbered("K", 1, 99, 42);
    auto withK150 = upTo99Without42;
    withK150.push_back("K150");

    const std::vector<ProposalCase> cases = {
        {"no tokens yet", {}, "K", "K01"},
        {"after the highest", {"K01", "K02", "K07"}, "K", "K08"},
        {"digits stop at a letter", {"K05abc"}, "K", "K06"},
        {"leading blanks are skipped", {"K 3"}, "K", "K04"},
        {"all C white space", {"K\t\n\v\f\r12"}, "K", "K13"},
        {"plus sign", {"K+7"}, "K", "K08"},
        {"negative counts raise nothing", {"K-5"}, "K", "K01"},
        {"no digits after the prefix", {"Kx1", "K"}, "K", "K01"},
        {"other prefixes and case", {"J05", "k07", "XK09"}, "K", "K01"},
        {"shorter than the prefix", {"VK1"}, "VK100", "VK10001"},
        {"zero counts as nothing", {"K00"}, "K", "K01"},
        {"gap after 99", upTo99Without42, "K", "K42"},
        {"only K99 leaves 1 free", {"K99"}, "K", "K01"},
        {"all of 1 to 99", numbered("K", 1, 99), "K", "K100"},
        {"above 99 the count continues", withK150, "K", "K151"},
        {"beyond 32 bits is not a count", {"K2147483648", "K05"}, "K", "K06"},
        {"far beyond 32 bits", {"K99999999999999999999999"}, "K", "K01"},
        {"key serial as prefix", {"VK100000101", "VK100000103"}, "VK1000001", "VK100000104"},
        {"top of the range", {"K2147483647"}, "K", ""},
        {"no key serial number", {"K01"}, "", ""},
    };
    for (const ProposalCase& c : cases) {
        const std::string proposal = next_serial_number(c.listed, c.prefix);
        if (c.expected.empty())
            EXPECT_TRUE(looksRandom(proposal)) << c.name << ": " << proposal;
        else
            EXPECT_EQ(proposal, c.expected) << c.name;
    }
}

} // namespace
