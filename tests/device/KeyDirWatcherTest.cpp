// The hot-plug watcher over the key directory: plug and unplug by the virtual
// key's own store, and a key directory that appears only after the start.

#include "device/KeyDirWatcher.h"
#include "support/VirtualKeyDevice.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>

namespace {

struct Event
{
    uint32_t code;
    QString name;
    bool operator==(const Event&) const = default;
};

QString nameOf(const QString& serial)
{
    return keyInterfaceBroadcast(serial).name;
}

// Writes the marker the way the library does: a dot file renamed into place.
void plugMarker(const QString& keyDir, const QString& serial)
{
    QDir().mkpath(keyDir + "/plugged");
    const QString temp = keyDir + "/plugged/." + serial + ".tmp";
    QFile file(temp);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QVERIFY(std::rename(QFile::encodeName(temp).constData(),
                        QFile::encodeName(keyDir + "/plugged/" + serial).constData()) == 0);
}

} // namespace

class KeyDirWatcherTest : public QObject
{
    Q_OBJECT

private:
    std::vector<Event> events;

    void record(KeyDirWatcher& watcher)
    {
        connect(&watcher, &KeyDirWatcher::deviceChange, this,
                [this](uint32_t code, const DeviceInterfaceBroadcast& header) {
                    events.push_back({code, header.name});
                });
    }

private slots:
    void init() { events.clear(); }

    void plugAndUnplugBecomeArrivalAndRemoval()
    {
        VirtualKeyDevice key("VK1000001");
        KeyDirWatcher watcher(QString::fromStdString(key.keyDir()));
        record(watcher);
        QVERIFY(watcher.isWatching());
        QCOMPARE(watcher.plugged(), QSet<QString>{"VK1000001"});

        key.addKey("VK1000002");
        QTRY_COMPARE(events.size(), std::size_t(1));
        QVERIFY((events[0] == Event{DeviceEvent::Arrival, nameOf("VK1000002")}));

        key.unplug("VK1000001");
        QTRY_COMPARE(events.size(), std::size_t(2));
        QVERIFY((events[1] == Event{DeviceEvent::RemoveComplete, nameOf("VK1000001")}));

        // Nothing more trickles in afterwards (temporary files are no keys).
        QTest::qWait(100);
        QCOMPARE(events.size(), std::size_t(2));
    }

    void keyDirectoryAppearingLaterIsWatched()
    {
        QTemporaryDir base;
        const QString keyDir = base.path() + "/state/vnkey/keys";
        KeyDirWatcher watcher(keyDir);
        record(watcher);
        QVERIFY(watcher.isWatching());
        QVERIFY(watcher.plugged().isEmpty());

        plugMarker(keyDir, "VK2000001");
        QTRY_COMPARE(events.size(), std::size_t(1));
        QVERIFY((events[0] == Event{DeviceEvent::Arrival, nameOf("VK2000001")}));
    }

    void keyDirectoryRenamedIntoPlace()
    {
        // The library builds a first key directory beside its final place and
        // renames it there, plugged key included.
        QTemporaryDir base;
        const QString keyDir = base.path() + "/keys";
        KeyDirWatcher watcher(keyDir);
        record(watcher);

        plugMarker(base.path() + "/.keys.new", "VK3000001");
        QVERIFY(QDir().rename(base.path() + "/.keys.new", keyDir));
        QTRY_COMPARE(events.size(), std::size_t(1));
        QVERIFY((events[0] == Event{DeviceEvent::Arrival, nameOf("VK3000001")}));

        QFile::remove(keyDir + "/plugged/VK3000001");
        QTRY_COMPARE(events.size(), std::size_t(2));
        QCOMPARE(events[1].code, DeviceEvent::RemoveComplete);
    }

    void resyncTakesPresentKeysWithoutEvents()
    {
        QTemporaryDir base;
        KeyDirWatcher watcher(base.path());
        record(watcher);

        plugMarker(base.path(), "VK4000001");
        watcher.resync();
        QTest::qWait(100);
        QVERIFY(events.empty());
        QCOMPARE(watcher.plugged(), QSet<QString>{"VK4000001"});
    }

    void noKeyDirectoryMeansNoWatch()
    {
        KeyDirWatcher watcher(QString{});
        QVERIFY(!watcher.isWatching());
    }
};

QTEST_GUILESS_MAIN(KeyDirWatcherTest)
#include "KeyDirWatcherTest.moc"
