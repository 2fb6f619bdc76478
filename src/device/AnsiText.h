#pragma once

// The device library and the seed files speak 8-bit text in the system's
// code page; the user interface speaks UTF-16. These are the two crossings.

#include <QString>

#include <cstring>
#include <string>

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

// The text of a fixed-size field up to its first zero byte (or its end).
inline std::string fieldText(const char* field, std::size_t size)
{
    return std::string(field, strnlen(field, size));
}
