#include "tokens/TokenList.h"

#include "device/AnsiText.h"
#include "pin/HwModeProbe.h"
#include "tokens/TokenCommands.h"

#include <array>

namespace {

const QString kNotAvailable = QStringLiteral("N/A");

QString typeText(uint32_t type)
{
    switch (type) {
    case VN_TYPE_HOTP:
        return QStringLiteral("HOTP");
    case VN_TYPE_TOTP:
        return QStringLiteral("TOTP");
    case VN_TYPE_STATIC_PASSWORD:
        return QStringLiteral("STATIC_PASSWORD");
    case VN_TYPE_CHALLENGE_RESPONSE:
        return QStringLiteral("CHALLENGE_RESPONSE");
    default:
        return kNotAvailable;
    }
}

QString hashText(uint32_t hash)
{
    switch (hash) {
    case VN_HASH_SHA1:
        return QStringLiteral("SHA-1");
    case VN_HASH_SHA256:
        return QStringLiteral("SHA-256");
    default:
        return kNotAvailable;
    }
}

// Digits and interval are shown only for the values a token can have, so a
// damaged record is recognisable instead of showing a plausible number.
QString numberFromSet(uint32_t value, std::initializer_list<uint32_t> known)
{
    for (const uint32_t k : known) {
        if (value == k)
            return QString::number(value);
    }
    return kNotAvailable;
}

} // namespace

QStringList tokenRowCells(const OtpTokenRecord& record)
{
    return {
        fromAnsi(fieldText(record.serial, sizeof record.serial)),
        typeText(record.type),
        hashText(record.hash),
        numberFromSet(record.digits, {6, 8}),
        // By value for every type: a HOTP token's interval is shown as stored.
        numberFromSet(record.interval, {30, 60}),
    };
}

void RefreshTokenList(MainWindowPort& window)
{
    window.clearTokenRows();
    window.listedSerials.clear();

    const auto tokens = list_tokens(window.device());
    if (!tokens) {
        window.AppendMessage(QStringLiteral("Failed to list tokens (error = %1)\r\n"
                                            "You must run this tool as administrator!\r\n")
                                 .arg(status_hex(tokens.error().status)));
        window.SetStatusText(QStringLiteral("You must run this tool as administrator!"));
        return;
    }

    window.AppendMessage(QStringLiteral("List tokens succeeded!\r\n"));
    window.AppendMessage(is_hwmaccess_supported(window.device())
                             ? QStringLiteral("The device is in PIN protection mode 0.\r\n")
                             : QStringLiteral("The device is in PIN protection mode 1.\r\n"));

    if (tokens->empty()) {
        window.AppendMessage(QStringLiteral("No OTP token in the device!\r\n"));
        return;
    }

    for (const OtpTokenRecord& record : *tokens) {
        window.appendTokenRow(tokenRowCells(record));
        window.listedSerials.push_back(token_serial(record));
    }
}
