#include "app/DeviceWorker.h"

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QPointer>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>

using namespace otp::device;

namespace otp::app {

namespace {

// Most calls answer within this; waiting for them without an event loop
// keeps the buttons from flickering and the start-up short.
constexpr std::chrono::milliseconds kAnswerAtOnce{20};
// A call still running after this shows the busy state.
constexpr int kGraceMs = 150;

bool isUserInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::Close:
        return true;
    default:
        return false;
    }
}

} // namespace

DeviceWorker::DeviceWorker(DeviceApi& device, QObject* parent)
    : QObject(parent), m_relay(device, [this](const std::function<void()>& call) { run(call); })
{
    if (::pipe2(m_wakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
        qFatal("no pipe for the device worker");
    m_woken = new QSocketNotifier(m_wakePipe[0], QSocketNotifier::Read, this);
    connect(m_woken, &QSocketNotifier::activated, this, &DeviceWorker::onWoken);
    m_grace = new QTimer(this);
    m_grace->setSingleShot(true);
    m_grace->setInterval(kGraceMs);
    connect(m_grace, &QTimer::timeout, this, &DeviceWorker::showBusy);
    m_thread = std::thread([this] { serve(); });
}

DeviceWorker::~DeviceWorker()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_jobReady.notify_one();
    m_thread.join();
    ::close(m_wakePipe[0]);
    ::close(m_wakePipe[1]);
}

void DeviceWorker::serve()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_jobReady.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
        if (m_queue.empty())
            return; // stopping, nothing left
        Job* job = m_queue.front();
        lock.unlock();
        (*job->work)();
        lock.lock();
        m_queue.pop_front();
        job->done = true;
        m_jobDone.notify_all();
        const char byte = 1;
        (void)!::write(m_wakePipe[1], &byte, 1);
    }
}

void DeviceWorker::onWoken()
{
    char bytes[64];
    while (::read(m_wakePipe[0], bytes, sizeof bytes) > 0) {
    }
    // The waiting loops look at their jobs themselves.
    emit answerArrived();
}

void DeviceWorker::run(const std::function<void()>& work)
{
    // Whatever the window changed before the call (a touch prompt, a dialog
    // that just closed) is on screen before the key starts waiting.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);

    Job job{&work};
    {
        std::lock_guard lock(m_mutex);
        m_queue.push_back(&job);
    }
    m_jobReady.notify_one();

    if (m_depth++ == 0) {
        m_heldDialog = QApplication::activeModalWidget();
        qApp->installEventFilter(this);
        m_grace->start();
    }
    bool done = false;
    {
        std::unique_lock lock(m_mutex);
        done = m_jobDone.wait_for(lock, kAnswerAtOnce, [&job] { return job.done; });
    }
    if (!done) {
        QEventLoop loop;
        const auto check = [&] {
            std::lock_guard lock(m_mutex);
            if (job.done)
                loop.quit();
        };
        connect(this, &DeviceWorker::answerArrived, &loop, check);
        // The answer may have come between the two looks.
        QTimer::singleShot(0, &loop, check);
        loop.exec();
        // A program on its way out runs no more event loops (exec returns at
        // once): the answer is then waited for here.
        std::unique_lock lock(m_mutex);
        m_jobDone.wait(lock, [&job] { return job.done; });
    }

    if (--m_depth == 0) {
        m_grace->stop();
        qApp->removeEventFilter(this);
        for (const QPointer<QWidget>& button : m_disabledButtons)
            if (button)
                button->setEnabled(true);
        m_disabledButtons.clear();
        m_heldDialog = nullptr;
        if (std::exchange(m_shownBusy, false))
            emit busyChanged(false);
    }
}

void DeviceWorker::showBusy()
{
    m_shownBusy = true;
    if (m_heldDialog != nullptr)
        for (QPushButton* button : m_heldDialog->findChildren<QPushButton*>())
            if (button->isEnabled()) {
                button->setEnabled(false);
                m_disabledButtons.emplace_back(button);
            }
    emit busyChanged(true);
}

bool DeviceWorker::eventFilter(QObject* watched, QEvent* event)
{
    if (m_heldDialog == nullptr || !isUserInput(event->type()) || !watched->isWidgetType())
        return false;
    auto* widget = static_cast<QWidget*>(watched);
    if (widget != m_heldDialog && !m_heldDialog->isAncestorOf(widget))
        return false;
    event->ignore(); // a close box: the dialog stays
    return true;
}

void DeviceWorker::runOnWorker(const std::function<void()>& work)
{
    run(work);
}

} // namespace otp::app
