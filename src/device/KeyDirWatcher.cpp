#include "device/KeyDirWatcher.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtGlobal>

namespace otp::device {

QString keyDirectoryFromEnvironment()
{
    if (const QString dir = qEnvironmentVariable("VN_KEY_DIR"); !dir.isEmpty())
        return dir;
    if (const QString state = qEnvironmentVariable("XDG_STATE_HOME"); !state.isEmpty())
        return state + QStringLiteral("/vnkey/keys");
    if (const QString home = qEnvironmentVariable("HOME"); !home.isEmpty())
        return home + QStringLiteral("/.local/state/vnkey/keys");
    return {};
}

KeyDirWatcher::KeyDirWatcher(const QString& keyDir, QObject* parent)
    : QObject(parent), m_keyDir(keyDir)
{
    if (m_keyDir.isEmpty())
        return; // nowhere to look: the program runs without hot-plug
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this,
            &KeyDirWatcher::onFolderChanged);
    watchNearestFolder();
    m_startedWithoutFolder = !QFileInfo(pluggedDir()).isDir();
    m_plugged = scanPlugged();
}

QString KeyDirWatcher::pluggedDir() const
{
    return m_keyDir + QStringLiteral("/plugged");
}

void KeyDirWatcher::resync()
{
    if (m_keyDir.isEmpty() || !m_startedWithoutFolder)
        return;
    m_startedWithoutFolder = false;
    watchNearestFolder();
    m_plugged = scanPlugged();
}

// Watches the plugged folder when it exists, else the deepest folder on the
// way to it that does, so that the folder's creation (mkdir -p or a rename of
// a whole prepared key directory) is noticed and the watch moves down.
void KeyDirWatcher::watchNearestFolder()
{
    QString target = pluggedDir();
    while (!QFileInfo(target).isDir()) {
        const QString up = QFileInfo(target).path();
        if (up == target)
            break;
        target = up;
    }
    const QStringList watched = m_watcher.directories();
    if (watched.size() == 1 && watched.front() == target)
        return;
    if (!watched.isEmpty())
        m_watcher.removePaths(watched);
    m_watcher.addPath(target);
}

QMap<QString, QByteArray> KeyDirWatcher::scanPlugged() const
{
    QMap<QString, QByteArray> plugged;
    // Dot files are the library's temporary markers on their way to a rename.
    const QDir dir(pluggedDir());
    for (const QString& name : dir.entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name)) {
        QFile marker(dir.filePath(name));
        // A marker pulled between the listing and the read is no key.
        if (marker.open(QIODevice::ReadOnly))
            plugged.insert(name, marker.readAll());
    }
    return plugged;
}

void KeyDirWatcher::onFolderChanged()
{
    // Watch first, then look: a change between the two is then still reported.
    watchNearestFolder();
    const QMap<QString, QByteArray> now = scanPlugged();

    // A marker with other content is a key pulled and plugged in again.
    QStringList removed;
    QStringList arrived;
    for (auto it = m_plugged.cbegin(); it != m_plugged.cend(); ++it)
        if (!now.contains(it.key()) || now.value(it.key()) != it.value())
            removed << it.key();
    for (auto it = now.cbegin(); it != now.cend(); ++it)
        if (!m_plugged.contains(it.key()) || m_plugged.value(it.key()) != it.value())
            arrived << it.key();
    // Update before emitting: a receiver may block (the arrival wait) and run
    // nested work, and must not see these changes a second time.
    m_plugged = now;

    for (const QString& serial : removed)
        emit keyRemoved(serial);
    for (const QString& serial : arrived)
        emit keyArrived(serial);
}

} // namespace otp::device
