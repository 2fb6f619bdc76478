#pragma once

// The device library on a thread of its own. Every call of the DeviceApi
// seam is handed to one worker thread, one call at a time, while the window's
// thread waits in an event loop: the window keeps painting and answering the
// window manager and the accessibility bus while the key waits for a touch.
// The library is only ever entered from the worker; the window's state only
// from the thread that waits, so the two never share more than the call
// being handed over.
//
// While a call runs, input to a modal dialog that is waiting for it is held
// back (its Save or OK cannot start a second call, Escape cannot close it
// under the call); after a short grace the dialog's buttons are shown
// disabled, and busyChanged(true) lets the main window do the same with its
// own buttons. Calls that answer at once show nothing.

#include "device/DeviceRelay.h"

#include <QObject>
#include <QPointer>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>
class QSocketNotifier;
class QTimer;
class QWidget;

namespace otp::app {

class DeviceWorker final : public QObject
{
    Q_OBJECT

public:
    explicit DeviceWorker(device::DeviceApi& device, QObject* parent = nullptr);
    // Waits for the call under way: the key cannot be interrupted.
    ~DeviceWorker() override;

    // True from the moment a call is handed over until its answer is back.
    bool isBusy() const { return m_depth > 0; }

    // Runs any work on the worker (a wait the window must not freeze for).
    void runOnWorker(const std::function<void()>& work);

    // The device library, each of its calls handed to the worker.
    device::DeviceApi& api() { return m_relay.api(); }

signals:
    // A call has been running for longer than the grace (true), or that call
    // has ended (false).
    void busyChanged(bool busy);
    // The worker has answered a call (only for the waiting loops).
    void answerArrived();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Job
    {
        const std::function<void()>* work = nullptr;
        bool done = false;
    };

    void run(const std::function<void()>& work);
    void serve();
    void onWoken();
    void showBusy();

    device::DeviceRelay m_relay;

    // Shared with the worker, under m_mutex.
    std::mutex m_mutex;
    std::condition_variable m_jobReady;
    std::condition_variable m_jobDone;
    std::deque<Job*> m_queue;
    bool m_stopping = false;

    // The worker tells the waiting thread through a pipe: its write and read
    // order the hand-over for any observer, the thread checker included.
    int m_wakePipe[2] = {-1, -1};
    QSocketNotifier* m_woken = nullptr;
    std::thread m_thread;

    // The waiting thread's own.
    int m_depth = 0;
    QTimer* m_grace = nullptr;
    bool m_shownBusy = false;
    QPointer<QWidget> m_heldDialog;
    std::vector<QPointer<QWidget>> m_disabledButtons;
};

} // namespace otp::app
