#pragma once

// Dialog layouts are given in dialog units, which scale with the dialog's
// font: a horizontal unit is a quarter of the font's average character width,
// a vertical unit an eighth of its height. Placing controls this way keeps the
// arrangement of the templates with whatever font the desktop uses.

#include <QFont>
#include <QRect>
#include <QSize>

namespace otp::ui {

class DialogUnits
{
public:
    explicit DialogUnits(const QFont& font);

    int x(int units) const;
    int y(int units) const;
    QRect rect(int x, int y, int width, int height) const;
    QSize size(int width, int height) const;

private:
    int m_baseX = 0; // average character width, pixels
    int m_baseY = 0; // character height, pixels
};

} // namespace otp::ui
