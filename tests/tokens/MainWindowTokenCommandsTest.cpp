// The token commands as the user meets them: buttons of the real main window
// on the offscreen platform, the in-process virtual key behind it.

#include "ModalDriver.h"
#include "OtpReference.h"
#include "TouchWatchDevice.h"
#include "app/CMainDlg.h"
#include "pin/PinPolicyRecord.h"
#include "support/VirtualKeyDevice.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

#include <cstring>

namespace {

OtpTokenRecord hotp(const char* serial)
{
    OtpTokenRecord r{};
    r.slot = VN_SLOT_ALL;
    r.type = VN_TYPE_HOTP;
    r.hash = VN_HASH_SHA1;
    r.digits = 6;
    r.interval = 30;
    std::strncpy(r.serial, serial, sizeof r.serial - 1);
    std::memcpy(r.seed, kRfcSeedSha1.data(), kRfcSeedSha1.size());
    r.seedLength = static_cast<uint32_t>(kRfcSeedSha1.size());
    return r;
}

} // namespace

class MainWindowTokenCommandsTest : public QObject
{
    Q_OBJECT

private:
    void click(CMainDlg& window, int id)
    {
        auto* button = qobject_cast<QPushButton*>(window.control(id));
        QVERIFY(button && button->isEnabled());
        QTest::mouseClick(button, Qt::LeftButton);
    }
    void select(CMainDlg& window, int row)
    {
        auto* list = qobject_cast<QTreeWidget*>(window.control(ControlId::TokenList));
        list->clearSelection();
        list->topLevelItem(row)->setSelected(true);
    }
    // What the panel gained since the last call.
    QString newMessages(CMainDlg& window)
    {
        const QString all = window.messagesText();
        const QString fresh = all.mid(m_seen);
        m_seen = static_cast<int>(all.size());
        return fresh;
    }

    int m_seen = 0;

private slots:
    void init() { m_seen = 0; }

    void commandsThroughTheButtons()
    {
        VirtualKeyDevice key;
        for (const char* serial : {"MW-A", "MW-B", "MW-C"})
            QCOMPARE(key.OtpPersonalize(hotp(serial), "", 0, 1), VN_OK);
        QStringList statusAtTouch;
        CMainDlg* shown = nullptr;
        TouchWatchDevice device(key, [&] { statusAtTouch << shown->statusText(); });
        CMainDlg window(device, CMainDlg::Options{.keyDir = QString()});
        shown = &window;
        QVERIFY(window.Create());
        newMessages(window);

        click(window, ControlId::GetOtp);
        QCOMPARE(newMessages(window), QString("Please select a token\r\n"));

        select(window, 2);
        click(window, ControlId::GetOtp);
        QCOMPARE(newMessages(window), QString("Please touch the key!...\r\nGet OTP succeeded!\r\n"
                                              "HOTP = 755224\r\n"));
        QCOMPARE(window.statusText(), QString());

        select(window, 1);
        click(window, ControlId::Remove);
        QCOMPARE(newMessages(window), QString("Token SN=MW-B removed\r\n"));
        QCOMPARE(window.tokenRowCount(), 2);
        QCOMPARE(window.tokenCell(1, 0), QString("MW-C"));

        // The former third row, at its new position, is still MW-C on the key.
        select(window, 1);
        click(window, ControlId::GetOtp);
        QVERIFY(newMessages(window).endsWith("HOTP = 287082\r\n"));

        ModalDriver modals;
        modals.arm([](QWidget* dialog) {
            dialog->findChild<QCheckBox*>()->setChecked(false);
            dialog->findChild<QPushButton*>(QStringLiteral("saveButton"))->click();
        });
        click(window, ControlId::SetEnter);
        modals.disarm();
        QCOMPARE(modals.dialogsSeen(), 1);
        QCOMPARE(newMessages(window), QString("Set C/R succeeded!\r\n"));
        QVERIFY(!key.enterFlag());

        click(window, ControlId::Reset);
        QCOMPARE(newMessages(window), QString("Please touch the key!...\r\nReset Succeeded!\r\n"));
        QCOMPARE(window.tokenRowCount(), 0);
        QVERIFY(!window.control(ControlId::GetOtp)->isEnabled());
        QVERIFY(window.control(ControlId::Reset)->isEnabled());
        QCOMPARE(window.statusText(), QString());

        // Get OTP, Get OTP, Remove, Reset each waited for a touch with the note shown.
        QCOMPARE(statusAtTouch, QStringList(4, "Please touch the key..."));
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    }

    void pinIsAskedOnceUntilUpdatePinCloses()
    {
        VirtualKeyDevice key;
        QCOMPARE(key.OtpPersonalize(hotp("MW-P"), "", 0, 1), VN_OK);
        QCOMPARE(key.OtpSetAccess(VN_SLOT_ALL, "8642", 4), VN_OK);
        // Update PIN opens its dialog only under an enabled PIN policy.
        QVERIFY(write_pin_policy(key, PinPolicyRecord{.enabled = 1}).has_value());
        CMainDlg window(key, CMainDlg::Options{.keyDir = QString()});
        QVERIFY(window.Create());

        QStringList seen;
        ModalDriver modals;
        modals.arm([&](QWidget* dialog) {
            seen << dialog->objectName();
            if (auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("pinEdit"))) {
                edit->setText(QStringLiteral("8642"));
                dialog->findChild<QPushButton*>(QStringLiteral("okButton"))->click();
            }
            // Any other dialog (Update PIN) is closed as it comes.
        });
        for (int i = 0; i < 2; ++i) {
            select(window, 0);
            click(window, ControlId::GetOtp);
        }
        QCOMPARE(seen, QStringList{"PinDlg"});

        // Closing Update PIN, even without a change, forgets the cached PIN.
        click(window, ControlId::UpdatePin);
        select(window, 0);
        click(window, ControlId::GetOtp);
        modals.disarm();
        QCOMPARE(seen, (QStringList{"PinDlg", "UpdatePinDlg", "PinDlg"}));
        QVERIFY(window.messagesText().endsWith(
            "HOTP = " + QString::fromStdString(referenceHotp(kRfcSeedSha1, 2, 6, false)) + "\r\n"));
    }
};

QTEST_MAIN(MainWindowTokenCommandsTest)
#include "MainWindowTokenCommandsTest.moc"
