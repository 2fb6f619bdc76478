#include "records/Recorder.h"

using namespace otp::core;

namespace otp::records {

OpError failure_at(const std::filesystem::path& destination, OpError error)
{
    const std::string prefix = destination.string() + ": ";
    if (error.detail.starts_with(prefix))
        error.detail.erase(0, prefix.size());
    return error;
}

} // namespace otp::records
