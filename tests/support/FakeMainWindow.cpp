#include "support/FakeMainWindow.h"

#include "device/KeySession.h"
#include "ui/AnsiText.h"

#include <array>

void FakeMainWindow::AppendMessage(const QString& text)
{
    messages << text;
    events << text;
}

void FakeMainWindow::SetStatusText(const QString& text)
{
    statusText = text;
    clock += 3600;
    events << "<status:" + text + ">";
}

void FakeMainWindow::setControlEnabled(int id, bool enabled)
{
    switched.emplace_back(id, enabled);
    m_enabled[id] = enabled;
}

bool FakeMainWindow::isControlEnabled(int id) const
{
    const auto it = m_enabled.find(id);
    return it != m_enabled.end() && it->second;
}

void FakeMainWindow::clearTokenRows()
{
    rows.clear();
    selected = -1;
}

void FakeMainWindow::removeTokenRow(int row)
{
    rows.erase(rows.begin() + row);
    selected = -1;
}

void FakeMainWindow::RefreshTokenList()
{
    ++refreshes;
    events << "<refresh>";
    clearTokenRows();
    windowState.listedSerials.clear();
    std::array<OtpTokenRecord, VN_MAX_TOKENS> listing{};
    if (m_device.OtpList(VN_SLOT_ALL, listing.data()) != VN_OK)
        return;
    for (const auto& r : listing) {
        if (r.serial[0] == '\0')
            break;
        const std::string serial = token_serial(r);
        windowState.listedSerials.push_back(serial);
        rows.push_back({fromAnsi(serial), r.type == VN_TYPE_TOTP ? "TOTP" : "HOTP",
                        QString::number(r.hash), QString::number(r.digits),
                        QString::number(r.interval)});
    }
}

QStringList FakeMainWindow::serialColumn() const
{
    QStringList out;
    for (const auto& r : rows)
        out << r.value(0);
    return out;
}

void FakeMainWindow::clearRecords()
{
    messages.clear();
    events.clear();
    switched.clear();
}
