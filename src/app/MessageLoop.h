#pragma once

// The program's start-up layer on Qt: one message loop per thread, kept in the
// application module, with message filters and idle handlers.
//
// A message filter is asked about every event before it reaches its receiver
// and may consume it; each one sits on the application as its own event
// filter, so the filter added last is asked first. Idle handlers run when the
// main loop's queue has run empty, just before it blocks; nested loops
// (modal dialogs) do not run them.

#include <QObject>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class QEvent;
class QWidget;

class MessageFilter
{
public:
    virtual ~MessageFilter() = default;
    // True when the event was consumed and must not reach its receiver.
    virtual bool PreTranslateMessage(QObject* receiver, QEvent* event) = 0;
};

class IdleHandler
{
public:
    virtual ~IdleHandler() = default;
    // True when the handler has more idle work to do.
    virtual bool OnIdle() = 0;
};

class MessageLoop final
{
public:
    MessageLoop();
    ~MessageLoop();
    MessageLoop(const MessageLoop&) = delete;
    MessageLoop& operator=(const MessageLoop&) = delete;

    bool AddMessageFilter(MessageFilter* filter);
    bool RemoveMessageFilter(MessageFilter* filter);
    bool AddIdleHandler(IdleHandler* handler);
    bool RemoveIdleHandler(IdleHandler* handler);

    // Processes events until the application is told to exit; answers the
    // exit code it was given.
    int Run();

private:
    void OnIdle();

    std::vector<std::pair<MessageFilter*, std::unique_ptr<QObject>>> m_filters;
    std::vector<IdleHandler*> m_idleHandlers;
    int m_runLevel = -1; // loop level of Run's loop while it runs
};

// One per process: the message loop of each thread that has one (only the
// user-interface thread does).
class AppModule final
{
public:
    bool AddMessageLoop(MessageLoop* loop);
    bool RemoveMessageLoop();
    MessageLoop* GetMessageLoop(std::thread::id thread = std::this_thread::get_id()) const;

private:
    mutable std::mutex m_lock;
    std::map<std::thread::id, MessageLoop*> m_loops;
};

// Creates the main window for the loop, or answers null when it cannot.
using MainWindowFactory = std::function<std::unique_ptr<QWidget>(MessageLoop&)>;

// Creates the main window, shows it and runs the loop until the window asks
// the application to exit; answers that exit code, or 0 at once when the
// window could not be created.
int Run(AppModule& module, const MainWindowFactory& createMainWindow);
