#pragma once

// The serial numbers that the files a command records into hold already: the
// clear-text seed files of the seed folder and the PSKC file (a pam_oath
// users file names no serial). A serial must stay unique across them, or a
// server importing them takes one token for another: proposals skip these,
// and one given by hand is refused with the file that holds it.

#include "cli/TokenOptions.h"
#include "records/Destinations.h"

#include <map>
#include <string>
#include <vector>

namespace otp::cli {

class HeldSerials
{
public:
    // Files that cannot be read are left to the recorders' own checks.
    static HeldSerials read(const TokenOptions& options, const records::Recorders& recorders);

    // The file that holds the serial, or nothing.
    const std::string* holder(const std::string& serial) const;
    void add(const std::string& serial, const std::string& file) { m_holder.emplace(serial, file); }
    std::vector<std::string> serials() const;

private:
    std::map<std::string, std::string> m_holder;
};

} // namespace otp::cli
