// The hot-plug watcher over the key directory: "+SERIAL" for a key plugged
// in, "-SERIAL" for one pulled out.

#include "device/KeyDirWatcher.h"
#include "support/VirtualKeyDevice.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace otp;
using namespace otp::device;

class KeyDirWatcherTest : public QObject
{
    Q_OBJECT

    QStringList events;

    void record(KeyDirWatcher& watcher)
    {
        events.clear();
        connect(&watcher, &KeyDirWatcher::keyArrived, this,
                [this](const QString& serial) { events << "+" + serial; });
        connect(&watcher, &KeyDirWatcher::keyRemoved, this,
                [this](const QString& serial) { events << "-" + serial; });
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
        QTRY_COMPARE(events, QStringList{"+VK1000002"});
        key.unplug("VK1000001");
        QTRY_COMPARE(events, (QStringList{"+VK1000002", "-VK1000001"}));
        // Pulled and plugged again before the watcher looks: still two events.
        key.unplug("VK1000002");
        key.plug("VK1000002");
        const QStringList expected = {"+VK1000002", "-VK1000001", "-VK1000002", "+VK1000002"};
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
        QTRY_COMPARE(events, QStringList{"+VK3000001"});
    }
};

QTEST_GUILESS_MAIN(KeyDirWatcherTest)
#include "KeyDirWatcherTest.moc"
