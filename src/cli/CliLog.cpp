#include "cli/CliLog.h"

#include "cli/CliContext.h"
#include "pin/PinAccess.h"

#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

#include <mutex>
#include <ostream>
#include <string_view>

using namespace otp::core;
using namespace otp::device;
using namespace otp::pin;

namespace otp::cli {

namespace {

class CliSink final : public spdlog::sinks::base_sink<std::mutex>
{
public:
    explicit CliSink(const CliContext& context) : m_context(context) {}

protected:
    void sink_it_(const spdlog::details::log_msg& message) override
    {
        if (!m_context.verbose)
            return;
        const std::string_view text(message.payload.data(), message.payload.size());
        if (text == kNoPinRecordLine) {
            m_context.err << "vnotp-cli: note: the key holds no PIN record, so no PIN is set\n";
            return;
        }
        const auto level = spdlog::level::to_string_view(message.level);
        m_context.err << "vnotp-cli: " << std::string_view(level.data(), level.size()) << ": "
                      << text << '\n';
    }
    void flush_() override { m_context.err.flush(); }

private:
    const CliContext& m_context;
};

} // namespace

void install_cli_log(CliContext& context)
{
    auto logger = std::make_shared<spdlog::logger>("vnotp-cli", std::make_shared<CliSink>(context));
    logger->set_level(spdlog::level::debug);
    spdlog::set_default_logger(std::move(logger));
}

} // namespace otp::cli
