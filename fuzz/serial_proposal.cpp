// The serial number proposed for a new token, from the serial numbers the
// key lists: those come from the key and may be anything another program
// wrote.

#include "FuzzCheck.h"
#include "programming/SerialProposal.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

using namespace otp;
using namespace otp::programming;

namespace {

bool allDigits(std::string_view text, char lowest)
{
    return std::ranges::all_of(text, [lowest](char c) { return c >= lowest && c <= '9'; });
}

} // namespace

// Lines separated by '\n': the key serial number, then the listed serials.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::string> lines;
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    for (;;) {
        const auto end = rest.find('\n');
        lines.emplace_back(rest.substr(0, end));
        if (end == std::string_view::npos)
            break;
        rest.remove_prefix(end + 1);
    }
    const std::string key = lines.front();
    const std::vector<std::string> listed(lines.begin() + 1, lines.end());

    const std::string proposal = next_serial_number(listed, key);
    const bool random = proposal.size() == 13 && proposal.starts_with("0000") &&
                        allDigits(std::string_view(proposal).substr(4), '1');
    if (key.empty()) {
        FUZZ_CHECK(random);
        return 0;
    }
    const std::string_view count =
        proposal.starts_with(key) ? std::string_view(proposal).substr(key.size()) : "";
    if (count.empty() || !allDigits(count, '0')) {
        // Only a count already at the top of its range falls back to a random
        // serial number, and only a listed serial with the prefix can get it
        // there.
        FUZZ_CHECK(random);
        FUZZ_CHECK(std::ranges::any_of(listed, [&](const auto& s) { return s.starts_with(key); }));
        return 0;
    }
    FUZZ_CHECK(count.size() >= 2 && count.size() <= 10);
    FUZZ_CHECK(count.size() == 2 || count.front() != '0');
    // A proposal never repeats a serial number the key already holds.
    FUZZ_CHECK(std::ranges::find(listed, proposal) == listed.end());
    return 0;
}
