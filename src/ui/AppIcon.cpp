#include "ui/AppIcon.h"

#include <QGuiApplication>
#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QPixmap>

#include <future>

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

void registerOnce()
{
    static const bool registered = (registerResources(), true);
    (void)registered;
}

// Set once, by preloadAppIcon() on the GUI thread, before any icon is drawn.
std::shared_future<QImage>& preloaded()
{
    static std::shared_future<QImage> image;
    return image;
}

QImage decodedImage()
{
    if (preloaded().valid())
        return preloaded().get();
    return QImage(kIconFile);
}

// Reads the image only when something asks for the icon's pixels: where
// nothing does (the offscreen platform, a window without decorations) the
// file is never decoded.
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
            m_loaded = QIcon(QPixmap::fromImage(decodedImage()));
        return m_loaded;
    }

    QIcon m_loaded;
};

} // namespace

QIcon appIcon()
{
    registerOnce();
    return QIcon(new DeferredIconEngine);
}

void preloadAppIcon()
{
    registerOnce();
    // Only the X window system is given the pixels as a window is created;
    // elsewhere the decoding would only compete with the start for the CPU.
    if (QGuiApplication::platformName() == QLatin1String("xcb") && !preloaded().valid())
        preloaded() = std::async(std::launch::async, [] { return QImage(kIconFile); }).share();
}

} // namespace otp::ui
