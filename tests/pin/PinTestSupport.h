#pragma once

#include "pin/PinPolicyRecord.h"

#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include <cstring>
#include <sstream>
#include <stdexcept>

// Replaces spdlog's default logger for its lifetime; text() is every line as
// "<level> <message>\n".
class LogCapture
{
public:
    LogCapture() : m_previous(spdlog::default_logger())
    {
        auto logger = std::make_shared<spdlog::logger>(
            "capture", std::make_shared<spdlog::sinks::ostream_sink_mt>(m_out));
        logger->set_pattern("%l %v");
        spdlog::set_default_logger(logger);
    }
    ~LogCapture() { spdlog::set_default_logger(m_previous); }
    std::string text() const { return m_out.str(); }
    void clear() { m_out.str({}); }

private:
    std::ostringstream m_out;
    std::shared_ptr<spdlog::logger> m_previous;
};

template <class T = void> PinResult<T> failure(int32_t code, std::string message)
{
    return std::unexpected(Err{code, std::move(message)});
}

// A policy in force whose rules hardly restrict anything.
inline PinPolicyRecord openPolicy()
{
    return PinPolicyRecord{.enabled = 1, .maxSequential = 9, .maxRepeating = 9};
}

inline void storePolicy(DeviceApi& device, const PinPolicyRecord& record)
{
    if (!write_pin_policy(device, record))
        throw std::runtime_error("could not store the PIN policy");
}

inline std::string hex(std::span<const uint8_t> bytes)
{
    std::string out;
    for (uint8_t b : bytes)
        out += fmt::format("{:02x}", b);
    return out;
}
