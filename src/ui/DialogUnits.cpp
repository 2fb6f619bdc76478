#include "ui/DialogUnits.h"

#include <QFontMetrics>
#include <QString>

namespace otp::ui {

DialogUnits::DialogUnits(const QFont& font)
{
    const QFontMetrics metrics(font);
    // The average over the Latin letters, rounded, as the dialog manager
    // measures it.
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_baseX = (letters / 26 + 1) / 2;
    m_baseY = metrics.height();
}

int DialogUnits::x(int units) const
{
    return (units * m_baseX + 2) / 4;
}

int DialogUnits::y(int units) const
{
    return (units * m_baseY + 4) / 8;
}

QRect DialogUnits::rect(int left, int top, int width, int height) const
{
    return {x(left), y(top), x(width), y(height)};
}

QSize DialogUnits::size(int width, int height) const
{
    return {x(width), y(height)};
}

} // namespace otp::ui
