#pragma once

// Helpers for driving the PIN dialogs on the offscreen platform.

#include "device/MainWindowPort.h"
#include "pin/PinCommands.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <QTimer>

#include <functional>

// Answers each modal dialog that a command opens with exec(): the action runs
// once per dialog and is expected to close it. A dialog still open 3 s after
// its action is rejected and marked stuck, so a broken dialog fails the test
// instead of hanging it.
class ModalAnswerer
{
public:
    explicit ModalAnswerer(std::function<void(QDialog*)> act) : m_act(std::move(act))
    {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] { tick(); });
        m_timer.start();
    }

    int dialogsSeen() const { return m_seen; }
    bool stuck() const { return m_stuck; }

private:
    void tick()
    {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        if (dialog != m_current) {
            m_current = dialog;
            m_ticks = 0;
            ++m_seen;
            QObject::connect(dialog, &QDialog::finished, &m_timer, [this] { m_current = nullptr; });
            m_act(dialog);
            return;
        }
        if (++m_ticks > 300) {
            m_stuck = true;
            dialog->reject();
        }
    }

    std::function<void(QDialog*)> m_act;
    QTimer m_timer;
    QDialog* m_current = nullptr;
    int m_ticks = 0;
    int m_seen = 0;
    bool m_stuck = false;
};

// Records the text of a label each time it is painted.
class PaintSpy : public QObject
{
public:
    explicit PaintSpy(QLabel* label) : m_label(label) { label->installEventFilter(this); }
    QStringList painted;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == m_label && event->type() == QEvent::Paint)
            painted << m_label->text();
        return false;
    }

private:
    QLabel* m_label;
};

// The main window as the PIN commands see it, with a real Update PIN button.
class FakeMainWindow final : public MainWindowPort
{
public:
    explicit FakeMainWindow(DeviceApi& device) : m_device(device)
    {
        updatePinButton.setText(QStringLiteral("Update PIN"));
        updatePinButton.setEnabled(false);
    }

    DeviceApi& device() override { return m_device; }
    void AppendMessage(const QString& text) override { messages += text; }
    void SetStatusText(const QString& text) override { status = text; }
    void setControlEnabled(int, bool) override {}
    bool isControlEnabled(int) const override { return true; }
    void clearTokenRows() override {}
    void appendTokenRow(const QStringList&) override {}
    int tokenRowCount() const override { return 0; }
    int selectedTokenRow() const override { return -1; }
    QString tokenCell(int, int) const override { return {}; }
    void removeTokenRow(int) override {}
    void RefreshTokenList() override {}
    void change_pin_button_status() override
    {
        ++buttonUpdates;
        ::change_pin_button_status(m_device, &updatePinButton);
    }
    QWidget* dialogParent() override { return &parent; }

    QWidget parent;
    QPushButton updatePinButton;
    QString messages;
    QString status;
    int buttonUpdates = 0;

private:
    DeviceApi& m_device;
};
