#pragma once

// Hot-plug on this platform. The virtual key marks a plugged key with the file
// <key directory>/plugged/<SERIAL>, created by a rename and removed by unlink,
// so a key being plugged in or pulled out is a file appearing or vanishing in
// that folder. Every plug writes a marker with new content (its generation),
// so a key pulled and plugged again while the window was busy still shows as
// a changed marker: a removal, then an arrival.

#include <QByteArray>
#include <QFileSystemWatcher>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

namespace otp::device {

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

    // Called after the main window's own discovery. When the key folder did
    // not exist as the watcher started, the library has just created it with
    // the first key: that is no plug-in, so the keys in it now are the
    // starting point. Otherwise the watcher keeps what it saw at its start,
    // so a plug or pull during or right after discovery is still reported.
    void resync();

    // False when the system refused the watch: the program then runs
    // without hot-plug.
    bool isWatching() const { return !m_watcher.directories().isEmpty(); }
    QString keyDir() const { return m_keyDir; }
    QString pluggedDir() const;
    QStringList plugged() const { return m_plugged.keys(); }

signals:
    void keyArrived(const QString& serial);
    void keyRemoved(const QString& serial);

private:
    void onFolderChanged();
    void watchNearestFolder();
    // Serial -> marker content of every plugged key.
    QMap<QString, QByteArray> scanPlugged() const;

    QString m_keyDir;
    QFileSystemWatcher m_watcher;
    QMap<QString, QByteArray> m_plugged;
    bool m_startedWithoutFolder = false;
};

} // namespace otp::device
