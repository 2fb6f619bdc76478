// The hot-plug watcher over the key directory.

#include "device/KeyDirWatcher.h"
#include "support/VirtualKeyDevice.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using Event = std::pair<uint32_t, QString>;

class KeyDirWatcherTest : public QObject
{
    Q_OBJECT

    QList<Event> events;

    void record(KeyDirWatcher& watcher)
    {
        events.clear();
        connect(&watcher, &KeyDirWatcher::deviceChange, this,
                [this](uint32_t code, const DeviceInterfaceBroadcast& header) {
                    events.append({code, header.name});
                });
    }
    static Event arrival(const QString& serial)
    {
        return {DeviceEvent::Arrival, keyInterfaceBroadcast(serial).name};
    }
    static Event removal(const QString& serial)
    {
        return {DeviceEvent::RemoveComplete, keyInterfaceBroadcast(serial).name};
    }

private slots:
    void plugAndUnplugBecomeArrivalAndRemoval()
    {
        VirtualKeyDevice key("VK1000001");
        KeyDirWatcher watcher(QString::fromStdString(key.keyDir()));
        record(watcher);
        QCOMPARE(watcher.plugged(), QStringList{"VK1000001"});

        // Discovery has run and missed this key: the watcher still reports it.
        key.addKey("VK1000002");
        watcher.resync();
        QTRY_COMPARE(events, QList{arrival("VK1000002")});
        key.unplug("VK1000001");
        QList<Event> expected = {arrival("VK1000002"), removal("VK1000001")};
        QTRY_COMPARE(events, expected);
        // Pulled and plugged again before the watcher looks: still two events.
        key.unplug("VK1000002");
        key.plug("VK1000002");
        expected << removal("VK1000002") << arrival("VK1000002");
        QTRY_COMPARE(events, expected);
        QTest::qWait(100); // temporary files are no keys
        QCOMPARE(events, expected);
    }

    void keyDirectoryRenamedIntoPlaceLater()
    {
        QTemporaryDir base;
        const QString keyDir = base.path() + "/state/keys";
        KeyDirWatcher watcher(keyDir);
        record(watcher);
        QVERIFY(watcher.isWatching());

        QVERIFY(QDir().mkpath(base.path() + "/state/.keys.new/plugged"));
        QFile marker(base.path() + "/state/.keys.new/plugged/VK3000001");
        QVERIFY(marker.open(QIODevice::WriteOnly));
        marker.close();
        QVERIFY(QDir().rename(base.path() + "/state/.keys.new", keyDir));
        QTRY_COMPARE(events, QList{arrival("VK3000001")});
    }
};

QTEST_GUILESS_MAIN(KeyDirWatcherTest)
#include "KeyDirWatcherTest.moc"
