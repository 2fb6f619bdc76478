#include "device/KeyDirWatcher.h"

#include <QDir>
#include <QFileInfo>
#include <QtGlobal>

#include <algorithm>

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
    m_plugged = scanPlugged();
}

QString KeyDirWatcher::pluggedDir() const
{
    return m_keyDir + QStringLiteral("/plugged");
}

void KeyDirWatcher::resync()
{
    if (m_keyDir.isEmpty())
        return;
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

QSet<QString> KeyDirWatcher::scanPlugged() const
{
    // Dot files are the library's temporary markers on their way to a rename.
    const QStringList names =
        QDir(pluggedDir()).entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    return QSet<QString>(names.cbegin(), names.cend());
}

void KeyDirWatcher::onFolderChanged()
{
    // Watch first, then look: a change between the two is then still reported.
    watchNearestFolder();
    const QSet<QString> now = scanPlugged();

    QStringList removed = (m_plugged - now).values();
    QStringList arrived = (now - m_plugged).values();
    std::sort(removed.begin(), removed.end());
    std::sort(arrived.begin(), arrived.end());
    // Update before emitting: a receiver may block (the arrival wait) and run
    // nested work, and must not see these changes a second time.
    m_plugged = now;

    for (const QString& serial : removed)
        emit deviceChange(DeviceEvent::RemoveComplete, keyInterfaceBroadcast(serial));
    for (const QString& serial : arrived)
        emit deviceChange(DeviceEvent::Arrival, keyInterfaceBroadcast(serial));
}
