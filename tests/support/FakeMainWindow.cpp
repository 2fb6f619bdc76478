#include "support/FakeMainWindow.h"

#include "device/KeySession.h"
#include "ui/AnsiText.h"

using namespace otp;
using namespace otp::core;
using namespace otp::device;
using namespace otp::ui;

void FakeMainWindow::setStatusText(const QString& text)
{
    statusText = text;
    clock += 3600;
    events << "<status:" + text + ">";
}

void FakeMainWindow::refreshTokenList()
{
    events << "<refresh>";
    clearTokenRows();
    windowState.listedSerials.clear();
    KeySession key(m_device);
    for (const ListedToken& token : key.tokens().value_or(std::vector<ListedToken>{})) {
        windowState.listedSerials.push_back(token.serial);
        rows << fromAnsi(windowState.listedSerials.back());
    }
}
