#pragma once

// Hot-plug on this platform. The virtual key marks a plugged key with the file
// <key directory>/plugged/<SERIAL>, created by a rename and removed by unlink,
// so a key being plugged in or pulled out is a file appearing or vanishing in
// that folder. The watcher turns each such change into the device-change event
// a real key of the family would raise.

#include "device/DeviceChange.h"

#include <QFileSystemWatcher>
#include <QObject>
#include <QSet>
#include <QString>

// $VN_KEY_DIR, else $XDG_STATE_HOME/vnkey/keys, else ~/.local/state/vnkey/keys;
// empty when none of them is set.
QString keyDirectoryFromEnvironment();

class KeyDirWatcher final : public QObject
{
    Q_OBJECT

public:
    // The folder need not exist yet: the library creates it on its first call,
    // possibly after the watcher has started.
    explicit KeyDirWatcher(const QString& keyDir, QObject* parent = nullptr);

    // Takes the keys plugged in right now as the starting point, raising no
    // event for them. The main window calls it after its own discovery, which
    // has already seen those keys (and may have created the first one).
    void resync();

    // False when the system refused the watch: the program then runs
    // without hot-plug.
    bool isWatching() const { return !m_watcher.directories().isEmpty(); }
    QString keyDir() const { return m_keyDir; }
    QString pluggedDir() const;
    QSet<QString> plugged() const { return m_plugged; }

signals:
    void deviceChange(uint32_t eventCode, const DeviceInterfaceBroadcast& header);

private:
    void onFolderChanged();
    void watchNearestFolder();
    QSet<QString> scanPlugged() const;

    QString m_keyDir;
    QFileSystemWatcher m_watcher;
    QSet<QString> m_plugged;
};
