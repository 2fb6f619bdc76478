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

// A policy in force whose rules hardly restrict anything.
inline PinPolicyRecord openPolicy()
{
    PinPolicyRecord r;
    r.enabled = 1;
    r.maxSequential = r.maxRepeating = 9;
    return r;
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
