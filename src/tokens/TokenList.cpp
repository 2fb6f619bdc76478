#include "tokens/TokenList.h"

#include "device/AnsiText.h"
#include "pin/HwModeProbe.h"

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

    std::array<OtpTokenRecord, VN_MAX_TOKENS> listing{};
    const uint32_t status = window.device().OtpList(VN_SLOT_ALL, listing.data());
    if (status != VN_OK) {
        window.AppendMessage(QString::asprintf("Failed to list tokens (error = 0x%08X)\r\n"
                                               "You must run this tool as administrator!\r\n",
                                               status));
        window.SetStatusText(QStringLiteral("You must run this tool as administrator!"));
        return;
    }

    window.AppendMessage(QStringLiteral("List tokens succeeded!\r\n"));
    window.AppendMessage(is_hwmaccess_supported(window.device())
                             ? QStringLiteral("The device is in PIN protection mode 0.\r\n")
                             : QStringLiteral("The device is in PIN protection mode 1.\r\n"));

    if (listing.front().serial[0] == '\0') {
        window.AppendMessage(QStringLiteral("No OTP token in the device!\r\n"));
        return;
    }

    // The first empty serial ends the listing; what follows it is not a token.
    for (const OtpTokenRecord& record : listing) {
        if (record.serial[0] == '\0')
            break;
        window.appendTokenRow(tokenRowCells(record));
        window.listedSerials.push_back(fieldText(record.serial, sizeof record.serial));
    }
}
