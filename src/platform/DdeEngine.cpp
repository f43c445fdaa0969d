// The per-thread DDE engine: lifetime of the thread context, its instances
// and retired objects, and the event loop that drives the sockets. Reading
// and writing conversations, the server side and the client side live in
// DdeTransport.cpp, DdeServer.cpp and DdeClient.cpp.

#include "platform/DdeEngine.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include <sys/epoll.h>
#include <unistd.h>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QSocketNotifier>

Q_LOGGING_CATEGORY(lcDdeml, "orvane.ddeml", QtInfoMsg)

namespace orvane::dde {

namespace {

std::atomic<std::uint32_t> g_nextContextTag{1};

} // namespace

// ---------------------------------------------------------------------------
// Conversation, Service, Instance

Conversation::Conversation(Instance* inst, bool isClient, int socket)
    : instance(inst), client(isClient), fd(socket) {}

Conversation::~Conversation() {
    if (fd >= 0) {
        ::close(fd);
    }
}

Service::~Service() {
    if (listenFd >= 0) {
        ::close(listenFd);
    }
    if (lockFd >= 0) {
        ::close(lockFd);
    }
}

Instance::Instance(ThreadContext* ctx, DWORD instanceId, PFNCALLBACK cb, DWORD afCmd,
                   std::string folder)
    : context(ctx), id(instanceId), callback(cb), flags(afCmd), dir(std::move(folder)) {}

Instance::~Instance() = default;

HDDEDATA Instance::call(UINT type, UINT format, HCONV conv, HSZ hsz1, HSZ hsz2, HDDEDATA data,
                        ULONG_PTR data1, ULONG_PTR data2) {
    if (dead || callback == nullptr) {
        return 0;
    }
    ThreadContext::Scope scope(*context);
    // What the application sends from its callback is its own business: it
    // may run a nested event loop, so it must not wait for this batch's end.
    ThreadContext::CallbackFrame frame(*context);
    try {
        return callback(type, format, conv, hsz1, hsz2, data, data1, data2);
    } catch (const std::exception& e) {
        qCWarning(lcDdeml) << "DDE callback of type" << Qt::hex << type << "raised:" << e.what();
    } catch (...) {
        qCWarning(lcDdeml) << "DDE callback of type" << Qt::hex << type << "raised";
    }
    return 0;
}

// ---------------------------------------------------------------------------
// The Qt side of a thread context: a notifier on the epoll set and the
// receiver of the end-of-turn flush.

class ContextObject : public QObject {
public:
    explicit ContextObject(ThreadContext* context, int epoll) : m_context(context) {
        if (QAbstractEventDispatcher::instance() != nullptr) {
            m_notifier = new QSocketNotifier(epoll, QSocketNotifier::Read, this);
            QObject::connect(m_notifier, &QSocketNotifier::activated, this,
                             [this] { m_context->onNotifier(); });
        } else {
            qCWarning(lcDdeml) << "DDE instance on a thread without an event loop";
        }
    }
    static QEvent::Type flushEventType() {
        static const auto type = QEvent::Type(QEvent::registerEventType());
        return type;
    }
    void detach() {
        m_context = nullptr;
        if (m_notifier != nullptr) {
            m_notifier->setEnabled(false);
        }
    }

protected:
    bool event(QEvent* e) override {
        if (e->type() == flushEventType()) {
            if (m_context != nullptr) {
                m_context->onFlushEvent();
            }
            return true;
        }
        return QObject::event(e);
    }

private:
    ThreadContext* m_context;
    QSocketNotifier* m_notifier = nullptr;
};

// ---------------------------------------------------------------------------
// ThreadContext

ThreadContext::ThreadContext()
    : m_tag(std::uint8_t(g_nextContextTag.fetch_add(1) & 0xFF)), m_data(m_tag) {
    m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    if (m_epoll < 0) {
        qCCritical(lcDdeml) << "epoll_create1 failed:" << std::strerror(errno);
    }
}

ThreadContext::~ThreadContext() {
    // Only reached at thread exit; the application should have ended its
    // instances, but sockets must not leak either way.
    ++m_depth;
    for (Instance* inst : std::vector<Instance*>(m_instances)) {
        uninitialize(inst);
    }
    m_graveyard.clear();
    if (m_eventObject != nullptr) {
        static_cast<ContextObject*>(m_eventObject)->detach();
        if (QCoreApplication::instance() != nullptr) {
            delete m_eventObject;
        }
        m_eventObject = nullptr;
    }
    if (m_epoll >= 0) {
        ::close(m_epoll);
    }
}

ThreadContext* ThreadContext::current(bool create) {
    thread_local std::unique_ptr<ThreadContext> context;
    if (!context && create) {
        context = std::make_unique<ThreadContext>();
    }
    return context.get();
}

ThreadContext::Scope::~Scope() {
    if (--m_context.m_depth == 0) {
        m_context.reap();
    }
}

Instance* ThreadContext::instance(DWORD id) const {
    for (Instance* inst : m_instances) {
        if (inst->id == id && !inst->dead) {
            return inst;
        }
    }
    return nullptr;
}

Conversation* ThreadContext::conversation(HCONV handle) const {
    const auto it = m_conversations.find(handle);
    return it == m_conversations.end() ? nullptr : it->second;
}

Instance* ThreadContext::addInstance(PFNCALLBACK callback, DWORD flags, std::string dir) {
    static std::atomic<DWORD> nextInstance{1};
    DWORD id = nextInstance.fetch_add(1);
    if (id == 0) {
        id = nextInstance.fetch_add(1);
    }
    auto* inst = new Instance(this, id, callback, flags, std::move(dir));
    m_instances.push_back(inst);
    ensureEventObject();
    return inst;
}

void ThreadContext::ensureEventObject() {
    m_dropEventObject = false;
    if (m_eventObject == nullptr) {
        m_eventObject = new ContextObject(this, m_epoll);
    }
}

void ThreadContext::uninitialize(Instance* inst) {
    Scope scope(*this);
    inst->dead = true;
    for (Conversation* conv : std::vector<Conversation*>(inst->conversations)) {
        disconnect(conv);
    }
    for (Service* service : std::vector<Service*>(inst->services)) {
        unregisterService(service);
    }
    inst->strings.clear();
    m_data.freeOwnedBy(inst->id);
    m_instances.erase(std::remove(m_instances.begin(), m_instances.end(), inst), m_instances.end());
    retire(inst);
    if (m_instances.empty()) {
        m_dropEventObject = true;
    }
}

void ThreadContext::retire(Retired* object) {
    m_graveyard.emplace_back(object);
}

void ThreadContext::reap() {
    if (!m_graveyard.empty()) {
        ++m_depth; // destructors must not re-enter reaping
        auto dead = std::move(m_graveyard);
        m_graveyard.clear();
        dead.clear();
        --m_depth;
    }
    if (m_dropEventObject && m_instances.empty() && m_eventObject != nullptr) {
        auto* object = static_cast<ContextObject*>(m_eventObject);
        object->detach();
        if (m_inNotifier) {
            object->deleteLater(); // its notifier is emitting right now
        } else {
            delete object;
        }
        m_eventObject = nullptr;
        m_flushPosted = false;
        m_dropEventObject = false;
    }
}

void ThreadContext::onNotifier() {
    const bool outer = !m_inNotifier;
    m_inNotifier = true;
    pump(0);
    if (outer) {
        m_inNotifier = false;
    }
}

void ThreadContext::onFlushEvent() {
    m_flushPosted = false;
    Scope scope(*this);
    flushAll();
}

void ThreadContext::pump(int timeoutMs) {
    epoll_event events[kEpollBatch];
    const int n = ::epoll_wait(m_epoll, events, kEpollBatch, timeoutMs);
    Scope scope(*this);
    const bool outerBatch = m_inBatch;
    m_inBatch = true;
    for (int i = 0; i < n; ++i) {
        handleEvent(static_cast<PollTag*>(events[i].data.ptr), events[i].events);
    }
    flushAll();
    m_inBatch = outerBatch;
}

void ThreadContext::handleEvent(PollTag* tag, std::uint32_t events) {
    if (tag->kind == PollTag::Kind::Listener) {
        auto* service = static_cast<Service*>(tag->object);
        if (!service->closed) {
            acceptPending(service);
        }
        return;
    }
    auto* conv = static_cast<Conversation*>(tag->object);
    if (conv->closed()) {
        return;
    }
    if (events & EPOLLOUT) {
        flush(conv);
    }
    if (!conv->closed() && (events & (EPOLLIN | EPOLLHUP | EPOLLERR | EPOLLRDHUP))) {
        readAndProcess(conv);
    }
}

void ThreadContext::markDirty(Conversation* conv) {
    if (!conv->queuedForFlush) {
        conv->queuedForFlush = true;
        m_dirty.push_back(conv);
    }
    // Inside a batch the batch's end writes it; otherwise the end of this
    // event-loop turn does.
    if (!m_inBatch && !m_flushPosted && m_eventObject != nullptr) {
        m_flushPosted = true;
        QCoreApplication::postEvent(m_eventObject, new QEvent(ContextObject::flushEventType()));
    }
}

Instance* findInstance(DWORD idInst) {
    ThreadContext* context = ThreadContext::current(false);
    return context != nullptr ? context->instance(idInst) : nullptr;
}

Conversation* findConversation(HCONV hConv) {
    ThreadContext* context = ThreadContext::current(false);
    if (context == nullptr || hConv == 0) {
        return nullptr;
    }
    Conversation* conv = context->conversation(hConv);
    return conv != nullptr && !conv->instance->dead ? conv : nullptr;
}

} // namespace orvane::dde
