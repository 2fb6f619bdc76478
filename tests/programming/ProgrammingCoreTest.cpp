// The serial number proposed for a new token. (The random serial number's
// form is checked here and by the serial_proposal fuzz target, the seed
// text decoder by the hex_decode one, base32 by the TOTP seed files'
// expected bytes and their conversion.)

#include "programming/SerialProposal.h"

#include <gtest/gtest.h>

#include <set>
#include <tuple>

using namespace otp;
using namespace otp::programming;

namespace {

bool isRandomSerial(const std::string& serial)
{
    return serial.size() == 13 && serial.starts_with("0000") &&
           serial.find_first_not_of("123456789", 4) == std::string::npos;
}

std::vector<std::string> numbered(int from, int to, int skip = -1)
{
    std::vector<std::string> serials;
    for (int n = from; n <= to; ++n)
        if (n != skip)
            serials.push_back((n < 10 ? "K0" : "K") + std::to_string(n));
    return serials;
}

TEST(NextSerialNumber, FollowsTheHighestCountAndFillsGapsAfter99)
{
    auto withK150 = numbered(1, 99, 42);
    withK150.push_back("K150");
    // listed serial numbers, prefix, proposal ("": a fresh random serial number)
    using Case = std::tuple<std::vector<std::string>, std::string, std::string>;
    const std::vector<Case> cases = {
        {{}, "K", "K01"},
        {{"K01", "K02", "K07"}, "K", "K08"},
        {{"K\t\n\v\f\r12"}, "K", "K13"},
        {{"K-5"}, "K", "K01"},
        {{"J05", "k07", "XK09", "Kx1"}, "K", "K01"},
        {{"VK1"}, "VK100", "VK10001"},
        {numbered(1, 99, 42), "K", "K42"},
        {numbered(1, 99), "K", "K100"},
        {withK150, "K", "K151"},
        {{"K2147483648", "K05"}, "K", "K06"},
        {{"K99999999999999999999999"}, "K", "K01"},
        {{"VK100000101", "VK100000103"}, "VK1000001", "VK100000104"},
        {{"K2147483647"}, "K", ""},
        {{"K01"}, "", ""},
    };
    for (const auto& [listed, prefix, expected] : cases) {
        const std::string proposal = next_serial_number(listed, prefix);
        EXPECT_TRUE(expected.empty() ? isRandomSerial(proposal) : proposal == expected)
            << (listed.empty() ? "" : listed.back()) << ": " << proposal;
    }
    std::set<char> digits; // a random serial number draws from all nine digits
    for (int draw = 0; draw < 200; ++draw)
        for (const char digit : next_serial_number({}, "").substr(4))
            digits.insert(digit);
    EXPECT_EQ(digits.size(), 9u);
}

} // namespace
