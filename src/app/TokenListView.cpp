#include "app/TokenListView.h"

#include "tokens/TokenCommands.h"
#include "ui/AnsiText.h"

using namespace otp::core;
using namespace otp::device;
using namespace otp::pskc;
using namespace otp::ui;
using namespace otp::tokens;

namespace otp::app {

void RefreshTokenList(MainWindowPort& window)
{
    window.clearTokenRows();
    window.state().listedSerials.clear();

    KeySession key(window.device());
    const auto tokens = key.tokens();
    if (!tokens) {
        window.appendMessage(QStringLiteral("Failed to list tokens (error = %1)\r\n"
                                            "You must run this tool as administrator!\r\n")
                                 .arg(statusHex(tokens.error().status)));
        window.setStatusText(QStringLiteral("You must run this tool as administrator!"));
        return;
    }

    window.appendMessage(QStringLiteral("List tokens succeeded!\r\n"));
    window.appendMessage(key.is_hwmaccess_supported()
                             ? QStringLiteral("The device is in PIN protection mode 0.\r\n")
                             : QStringLiteral("The device is in PIN protection mode 1.\r\n"));

    if (tokens->empty()) {
        window.appendMessage(QStringLiteral("No OTP token in the device!\r\n"));
        return;
    }

    for (const ListedToken& token : *tokens) {
        const auto cells = token_cells(token);
        window.appendTokenRow({fromAnsi(cells[0]), QString::fromStdString(cells[1]),
                               QString::fromStdString(cells[2]), QString::fromStdString(cells[3]),
                               QString::fromStdString(cells[4])});
        window.state().listedSerials.push_back(token.serial);
    }
}

} // namespace otp::app
