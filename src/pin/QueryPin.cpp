#include "pin/QueryPin.h"

#include "pin/PinAccess.h"
#include "pin/PinDlg.h"
#include "ui/BusyCursor.h"

using namespace otp::core;
using namespace otp::device;
using namespace otp::ui;

namespace otp::pin {

OpResult<std::string> query_pin_ifn(KeySession& device, QWidget* parent,
                                    const std::string& cachedPinUtf8)
{
    BusyCursor busy;
    return query_pin(device, cachedPinUtf8, [parent]() -> OpResult<std::string> {
        BusyCursor arrow(Qt::ArrowCursor); // the user types while the device waits
        PinDlg dialog(parent);
        dialog.exec();                     // the result does not matter: the member is the answer
        return dialog.pin().toStdString(); // UTF-8
    });
}

} // namespace otp::pin
