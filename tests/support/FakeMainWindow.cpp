#include "support/FakeMainWindow.h"

#include "device/KeySession.h"
#include "ui/AnsiText.h"

void FakeMainWindow::SetStatusText(const QString& text)
{
    statusText = text;
    clock += 3600;
    events << "<status:" + text + ">";
}

void FakeMainWindow::RefreshTokenList()
{
    events << "<refresh>";
    clearTokenRows();
    windowState.listedSerials.clear();
    KeySession key(m_device);
    for (const OtpTokenRecord& record : key.tokens().value_or(std::vector<OtpTokenRecord>{})) {
        windowState.listedSerials.push_back(token_serial(record));
        rows << fromAnsi(windowState.listedSerials.back());
    }
}
