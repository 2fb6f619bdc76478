#pragma once

// The device library and the seed files speak 8-bit text in the system's
// code page; the user interface speaks UTF-16. These are the two crossings.

#include "core/Error.h"

#include <QString>

#include <cstring>
#include <string>

namespace otp::ui {

inline QString fromAnsi(const char* text)
{
    return QString::fromLocal8Bit(text, static_cast<qsizetype>(std::strlen(text)));
}

inline QString fromAnsi(const std::string& text)
{
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string toAnsi(const QString& text)
{
    return text.toLocal8Bit().toStdString();
}

// A device status as the windows show it: "0x%08X".
inline QString statusHex(uint32_t status)
{
    return QString::fromStdString(core::status_hex(status));
}

} // namespace otp::ui
