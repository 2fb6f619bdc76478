#include "app/MessageLoop.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QThread>
#include <QWidget>

#include <algorithm>

namespace {

// Puts one message filter on the application's event-filter list.
class FilterAdapter final : public QObject
{
public:
    explicit FilterAdapter(MessageFilter* filter) : m_filter(filter) {}

    bool eventFilter(QObject* receiver, QEvent* event) override
    {
        return m_filter->PreTranslateMessage(receiver, event);
    }

private:
    MessageFilter* m_filter;
};

} // namespace

MessageLoop::MessageLoop() = default;

MessageLoop::~MessageLoop()
{
    for (auto& entry : m_filters)
        qApp->removeEventFilter(entry.second.get());
}

bool MessageLoop::AddMessageFilter(MessageFilter* filter)
{
    if (filter == nullptr)
        return false;
    auto adapter = std::make_unique<FilterAdapter>(filter);
    qApp->installEventFilter(adapter.get());
    m_filters.emplace_back(filter, std::move(adapter));
    return true;
}

bool MessageLoop::RemoveMessageFilter(MessageFilter* filter)
{
    const auto it = std::find_if(m_filters.begin(), m_filters.end(),
                                 [filter](const auto& entry) { return entry.first == filter; });
    if (it == m_filters.end())
        return false;
    qApp->removeEventFilter(it->second.get());
    m_filters.erase(it);
    return true;
}

bool MessageLoop::AddIdleHandler(IdleHandler* handler)
{
    if (handler == nullptr)
        return false;
    m_idleHandlers.push_back(handler);
    return true;
}

bool MessageLoop::RemoveIdleHandler(IdleHandler* handler)
{
    const auto it = std::find(m_idleHandlers.begin(), m_idleHandlers.end(), handler);
    if (it == m_idleHandlers.end())
        return false;
    m_idleHandlers.erase(it);
    return true;
}

void MessageLoop::OnIdle()
{
    if (QThread::currentThread()->loopLevel() != m_runLevel)
        return;
    // A handler may remove itself while it runs.
    const std::vector<IdleHandler*> handlers = m_idleHandlers;
    for (IdleHandler* handler : handlers) {
        if (std::find(m_idleHandlers.begin(), m_idleHandlers.end(), handler) !=
            m_idleHandlers.end())
            handler->OnIdle();
    }
}

int MessageLoop::Run()
{
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    QMetaObject::Connection idle;
    if (dispatcher != nullptr)
        idle = QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock,
                                [this] { OnIdle(); });
    m_runLevel = QThread::currentThread()->loopLevel() + 1;
    const int code = QApplication::exec();
    m_runLevel = -1;
    QObject::disconnect(idle);
    return code;
}

bool AppModule::AddMessageLoop(MessageLoop* loop)
{
    const std::lock_guard guard(m_lock);
    return m_loops.emplace(std::this_thread::get_id(), loop).second;
}

bool AppModule::RemoveMessageLoop()
{
    const std::lock_guard guard(m_lock);
    return m_loops.erase(std::this_thread::get_id()) == 1;
}

MessageLoop* AppModule::GetMessageLoop(std::thread::id thread) const
{
    const std::lock_guard guard(m_lock);
    const auto it = m_loops.find(thread);
    return it == m_loops.end() ? nullptr : it->second;
}

int Run(AppModule& module, const MainWindowFactory& createMainWindow)
{
    MessageLoop loop;
    module.AddMessageLoop(&loop);

    // The program ends only through the main window's closing command, which
    // brings its own exit code; Qt must not end it with 0 behind our back.
    QApplication::setQuitOnLastWindowClosed(false);

    std::unique_ptr<QWidget> mainWindow = createMainWindow(loop);
    if (!mainWindow) {
        module.RemoveMessageLoop();
        return 0;
    }
    mainWindow->show();
    const int code = loop.Run();

    module.RemoveMessageLoop();
    mainWindow.reset();
    return code;
}
