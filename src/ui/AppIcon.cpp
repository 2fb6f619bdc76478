#include "ui/AppIcon.h"

#include <QIconEngine>
#include <QPainter>

// The resource file is compiled into a static library, so it must be
// registered by name before its first use (outside any namespace).
static void registerResources()
{
    Q_INIT_RESOURCE(vnotp);
}

namespace otp::ui {

namespace {

const QString kIconFile = QStringLiteral(":/icon128.png");
constexpr QSize kIconSize{128, 128};

// Reads the image only when something draws the icon. Setting a window's
// icon asks for no pixels on every platform, and decoding the file (and
// finding the image reader for it) is a noticeable part of the start-up.
class DeferredIconEngine final : public QIconEngine
{
public:
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        loaded().paint(painter, rect, Qt::AlignCenter, mode, state);
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return loaded().pixmap(size, mode, state);
    }

    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override
    {
        return loaded().pixmap(size, scale, mode, state);
    }

    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return loaded().actualSize(size, mode, state);
    }

    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override { return {kIconSize}; }

    // The file is compiled in: the icon is never empty.
    bool isNull() override { return false; }

    QString key() const override { return QStringLiteral("DeferredIconEngine"); }

    QIconEngine* clone() const override { return new DeferredIconEngine(*this); }

private:
    const QIcon& loaded()
    {
        if (m_loaded.isNull())
            m_loaded = QIcon(kIconFile);
        return m_loaded;
    }

    QIcon m_loaded;
};

} // namespace

QIcon appIcon()
{
    static const bool registered = (registerResources(), true);
    (void)registered;
    return QIcon(new DeferredIconEngine);
}

} // namespace otp::ui
