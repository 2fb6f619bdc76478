#include "ui/FontConfigWarmUp.h"

#include <fontconfig/fontconfig.h>

namespace otp::ui {

FontConfigWarmUp::FontConfigWarmUp()
    // A configuration that fails to load is Qt's to report, when it loads it.
    : m_thread([] { (void)FcInit(); })
{
}

FontConfigWarmUp::~FontConfigWarmUp()
{
    wait();
}

void FontConfigWarmUp::wait()
{
    if (m_thread.joinable())
        m_thread.join();
}

} // namespace otp::ui
