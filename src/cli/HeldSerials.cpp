#include "cli/HeldSerials.h"

#include "records/SeedFileReader.h"
#include "records/SeedFiles.h"

using namespace otp::core;
using namespace otp::device;
using namespace otp::pskc;
using namespace otp::records;
using namespace otp::programming;

namespace otp::cli {

HeldSerials HeldSerials::read(const TokenOptions& options, const Recorders& recorders)
{
    HeldSerials held;
    if (!options.noPlaintext) {
        for (const OtpAlgorithm algorithm : {OtpAlgorithm::Hotp, OtpAlgorithm::Totp}) {
            const auto xml = seed_xml_path(algorithm, seed_directory(options));
            for (const std::filesystem::path& file : {xml, seed_csv_path(xml)}) {
                std::error_code error;
                if (!std::filesystem::is_regular_file(file, error))
                    continue;
                if (const auto records = read_seed_file(file))
                    for (const SeedRecord& record : *records)
                        held.add(record.serial, file.string());
            }
        }
    }
    if (const pskc::Container* container = recorders.pskcContainer())
        for (const pskc::KeyPackage& package : container->packages())
            held.add(package.keyId, options.pskcFile);
    return held;
}

const std::string* HeldSerials::holder(const std::string& serial) const
{
    const auto found = m_holder.find(serial);
    return found == m_holder.end() ? nullptr : &found->second;
}

std::vector<std::string> HeldSerials::serials() const
{
    std::vector<std::string> serials;
    for (const auto& [serial, file] : m_holder)
        serials.push_back(serial);
    return serials;
}

} // namespace otp::cli
