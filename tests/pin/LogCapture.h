#pragma once

// Puts a default logger that writes into a string in place of spdlog's own
// for the lifetime of the object, so a test can read what was logged.

#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include <memory>
#include <sstream>
#include <string>

class LogCapture
{
public:
    LogCapture() : m_previous(spdlog::default_logger())
    {
        auto sink = std::make_shared<spdlog::sinks::ostream_sink_mt>(m_out);
        auto logger = std::make_shared<spdlog::logger>("capture", sink);
        logger->set_pattern("%l %v");
        spdlog::set_default_logger(logger);
    }
    ~LogCapture() { spdlog::set_default_logger(m_previous); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Every line as "<level> <message>\n".
    std::string text() const { return m_out.str(); }
    void clear() { m_out.str({}); }

private:
    std::ostringstream m_out;
    std::shared_ptr<spdlog::logger> m_previous;
};
