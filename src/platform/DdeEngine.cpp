#include "platform/DdeEngine.h"

#include "platform/DdeRuntime.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QSocketNotifier>

Q_LOGGING_CATEGORY(lcDdeml, "orvane.ddeml", QtInfoMsg)

namespace orvane::dde {

namespace {

std::atomic<std::uint32_t> g_nextConversation{1};
std::atomic<std::uint32_t> g_nextString{1};
std::atomic<std::uint32_t> g_nextContextTag{1};
std::atomic<int> g_connectTimeoutMs{kConnectTimeoutMs};

constexpr HDDEDATA kDataMarker = HDDEDATA(1) << 62;

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : int(std::min<long long>(left, 1 << 30));
}

std::uint64_t linkKey(HSZ item, UINT format) {
    return (std::uint64_t(item) << 32) | format;
}

UINT replyErrorFromFlags(HDDEDATA result) {
    if (result & DDE_FACK) {
        return DMLERR_NO_ERROR;
    }
    return (result & DDE_FBUSY) ? DMLERR_BUSY : DMLERR_NOTPROCESSED;
}

bool fillAddress(const std::string& path, sockaddr_un& address) {
    if (path.size() > maxSocketPathBytes()) {
        return false;
    }
    std::memset(&address, 0, sizeof(address));
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    return true;
}

} // namespace

HCONV nextConversationHandle() {
    HCONV h = g_nextConversation.fetch_add(1);
    return h == 0 ? g_nextConversation.fetch_add(1) : h;
}

HSZ nextStringHandle() {
    HSZ h = g_nextString.fetch_add(1);
    return h == 0 ? g_nextString.fetch_add(1) : h;
}

// ---------------------------------------------------------------------------
// StringTable

HSZ StringTable::create(std::string_view text) {
    foldInto(text, m_scratch);
    if (const auto it = m_byFolded.find(m_scratch); it != m_byFolded.end()) {
        ++m_byHandle[it->second].refs;
        return it->second;
    }
    const HSZ hsz = nextStringHandle();
    m_byHandle.emplace(hsz, Entry{std::string(text), m_scratch, 1});
    m_byFolded.emplace(m_scratch, hsz);
    return hsz;
}

bool StringTable::keep(HSZ hsz) {
    const auto it = m_byHandle.find(hsz);
    if (it == m_byHandle.end()) {
        return false;
    }
    ++it->second.refs;
    return true;
}

bool StringTable::release(HSZ hsz) {
    const auto it = m_byHandle.find(hsz);
    if (it == m_byHandle.end()) {
        return false;
    }
    if (--it->second.refs == 0) {
        m_byFolded.erase(it->second.folded);
        m_byHandle.erase(it);
    }
    return true;
}

const std::string* StringTable::text(HSZ hsz) const {
    const auto it = m_byHandle.find(hsz);
    return it == m_byHandle.end() ? nullptr : &it->second.text;
}

std::uint32_t StringTable::refs(HSZ hsz) const {
    const auto it = m_byHandle.find(hsz);
    return it == m_byHandle.end() ? 0 : it->second.refs;
}

void StringTable::clear() {
    m_byHandle.clear();
    m_byFolded.clear();
}

// ---------------------------------------------------------------------------
// DataTable

HDDEDATA DataTable::create(DWORD owner, const std::uint8_t* bytes, std::size_t size, UINT format,
                           HSZ item, bool appOwned) {
    std::uint32_t index;
    if (!m_free.empty()) {
        index = m_free.back();
        m_free.pop_back();
    } else {
        index = std::uint32_t(m_slots.size());
        m_slots.emplace_back();
    }
    Slot& slot = m_slots[index];
    if (bytes != nullptr) {
        slot.bytes.assign(bytes, bytes + size);
    } else {
        slot.bytes.assign(size, 0);
    }
    slot.format = format;
    slot.item = item;
    slot.owner = owner;
    slot.used = true;
    slot.appOwned = appOwned;
    slot.generation = (slot.generation + 1) & 0xFFFF;
    return kDataMarker | (HDDEDATA(m_tag) << 48) | (HDDEDATA(slot.generation) << 32) | index;
}

DataTable::Slot* DataTable::find(HDDEDATA handle) {
    if ((handle >> 56) != (kDataMarker >> 56) || ((handle >> 48) & 0xFF) != m_tag) {
        return nullptr;
    }
    const auto index = std::uint32_t(handle & 0xFFFFFFFF);
    if (index >= m_slots.size()) {
        return nullptr;
    }
    Slot& slot = m_slots[index];
    if (!slot.used || slot.generation != ((handle >> 32) & 0xFFFF)) {
        return nullptr;
    }
    return &slot;
}

bool DataTable::free(HDDEDATA handle) {
    Slot* slot = find(handle);
    if (slot == nullptr) {
        return false;
    }
    slot->used = false;
    if (slot->bytes.capacity() > kIdleBufferBytes) {
        std::vector<std::uint8_t>().swap(slot->bytes);
    }
    m_free.push_back(std::uint32_t(handle & 0xFFFFFFFF));
    return true;
}

void DataTable::release(HDDEDATA handle) {
    if (Slot* slot = find(handle); slot != nullptr && !slot->appOwned) {
        free(handle);
    }
}

void DataTable::freeOwnedBy(DWORD owner) {
    for (std::uint32_t i = 0; i < m_slots.size(); ++i) {
        Slot& slot = m_slots[i];
        if (slot.used && slot.owner == owner) {
            slot.used = false;
            m_free.push_back(i);
        }
    }
}

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

void ThreadContext::setConnectTimeoutForTesting(int ms) {
    g_connectTimeoutMs = ms > 0 ? ms : kConnectTimeoutMs;
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

void ThreadContext::watch(int fd, PollTag* tag, std::uint32_t events) {
    epoll_event ev{};
    ev.events = events;
    ev.data.ptr = tag;
    if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &ev) != 0) {
        qCWarning(lcDdeml) << "epoll_ctl add failed:" << std::strerror(errno);
    }
}

void ThreadContext::unwatch(int fd) {
    if (fd >= 0) {
        ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, nullptr);
    }
}

void ThreadContext::setPollingOut(Conversation* conv, bool on) {
    if (conv->pollingOut == on || conv->fd < 0) {
        return;
    }
    conv->pollingOut = on;
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLRDHUP | (on ? EPOLLOUT : 0u);
    ev.data.ptr = &conv->tag;
    ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, conv->fd, &ev);
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

void ThreadContext::acceptPending(Service* service) {
    for (int i = 0; i < kMaxAcceptsPerWake && !service->closed; ++i) {
        const int fd = ::accept4(service->listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                qCWarning(lcDdeml) << "accept failed:" << std::strerror(errno);
            }
            return;
        }
        if (!peerIsSameUser(fd)) {
            qCWarning(lcDdeml) << "refused a DDE client of another user";
            ::close(fd);
            continue;
        }
        Instance* inst = service->instance;
        std::size_t waiting = 0;
        Conversation* oldest = nullptr;
        for (Conversation* c : inst->conversations) {
            if (!c->client && c->state == Conversation::State::Handshake) {
                oldest = oldest == nullptr ? c : oldest;
                ++waiting;
            }
        }
        if (waiting >= kMaxPendingGreetings && oldest != nullptr) {
            lose(oldest, "no greeting");
        }
        auto* conv = new Conversation(inst, false, fd);
        inst->conversations.push_back(conv);
        watch(fd, &conv->tag, EPOLLIN | EPOLLRDHUP);
        // A client on this thread has already written its greeting and waits
        // for the answer inside DdeConnect: answer it now.
        readAndProcess(conv);
    }
}

void ThreadContext::readAndProcess(Conversation* conv) {
    for (int round = 0; round < kReadsPerWake && !conv->closed(); ++round) {
        std::size_t want = kReadChunkBytes;
        // A frame announced larger than the free space: make room for all of it.
        Frame frame;
        std::size_t needed = 0;
        if (decodeFrame(conv->in.readPtr(), conv->in.readable(), frame, needed) ==
                DecodeResult::NeedMore &&
            needed > conv->in.readable()) {
            want = std::max(want, needed - conv->in.readable());
        }
        std::uint8_t* at = conv->in.reserveWrite(want);
        const std::size_t space = conv->in.writable();
        const ssize_t n = ::recv(conv->fd, at, space, 0);
        if (n > 0) {
            conv->in.commit(std::size_t(n));
            processFrames(conv);
            if (std::size_t(n) < space) {
                break; // drained
            }
            continue;
        }
        if (n == 0) {
            lose(conv, "closed by the partner");
            return;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            lose(conv, std::strerror(errno));
        }
        return;
    }
}

void ThreadContext::processFrames(Conversation* conv) {
    while (!conv->closed()) {
        Frame frame;
        std::size_t used = 0;
        const DecodeResult result =
            decodeFrame(conv->in.readPtr(), conv->in.readable(), frame, used);
        if (result == DecodeResult::NeedMore) {
            if (conv->in.empty()) {
                conv->in.shrinkIfIdle(kIdleBufferBytes);
            }
            return;
        }
        if (result != DecodeResult::Complete) {
            lose(conv, result == DecodeResult::Oversized     ? "oversized frame"
                       : result == DecodeResult::UnknownKind ? "unknown frame kind"
                                                             : "malformed frame");
            return;
        }
        // Consumed before handling: a callback may run a nested loop that
        // reads this conversation further. Handlers copy what they need out
        // of the frame before they call back.
        conv->in.consume(used);
        handleFrame(conv, frame);
    }
}

void ThreadContext::handleFrame(Conversation* conv, const Frame& frame) {
    if (conv->state == Conversation::State::Handshake) {
        if (!conv->client && frame.kind == FrameKind::Hello) {
            handleHello(conv, frame);
        } else {
            lose(conv, "unexpected frame during the greeting");
        }
        return;
    }
    if (conv->client) {
        handleClientFrame(conv, frame);
    } else {
        handleServerFrame(conv, frame);
    }
}

void ThreadContext::handleHello(Conversation* conv, const Frame& frame) {
    Instance* inst = conv->instance;
    if (frame.version != kProtocolVersion) {
        qCWarning(lcDdeml) << "DDE client speaks protocol version" << frame.version;
        Frame refuse;
        refuse.kind = FrameKind::Refuse;
        send(conv, refuse);
        flush(conv);
        lose(conv, "protocol version mismatch");
        return;
    }
    const HSZ topic = frame.topic.empty() ? 0 : inst->strings.create(frame.topic);
    const HSZ service = frame.service.empty() ? 0 : inst->strings.create(frame.service);
    conv->topic = topic;
    conv->service = service;
    conv->context = CONVCONTEXT{};
    conv->context.cb = 36;
    conv->context.iCodePage = frame.codePage;
    const HDDEDATA accepted =
        inst->call(XTYP_CONNECT, 0, 0, topic, service, ULONG_PTR(&conv->context), 0, 0);
    if (inst->dead || conv->closed()) {
        return;
    }
    if (accepted == 0) {
        Frame refuse;
        refuse.kind = FrameKind::Refuse;
        send(conv, refuse);
        flush(conv);
        lose(conv, "refused by the server");
        return;
    }
    conv->handle = nextConversationHandle();
    conv->state = Conversation::State::Connected;
    m_conversations.emplace(conv->handle, conv);
    inst->serverConversationsByTopic[topic].push_back(conv);
    Frame accept;
    accept.kind = FrameKind::Accept;
    accept.version = kProtocolVersion;
    send(conv, accept);
    flush(conv);
    inst->call(XTYP_CONNECT_CONFIRM, 0, conv->handle, topic, service, 0, 0, 0);
}

void ThreadContext::replyTo(Conversation* conv, std::uint32_t transaction, UINT error, UINT format,
                            const std::uint8_t* data, std::uint32_t size) {
    Frame reply;
    reply.kind = FrameKind::Reply;
    reply.transaction = transaction;
    reply.status = error;
    reply.format = format;
    reply.data = data;
    reply.dataSize = size;
    send(conv, reply);
}

void ThreadContext::handleServerFrame(Conversation* conv, const Frame& frame) {
    Instance* inst = conv->instance;
    const HCONV hconv = conv->handle;
    switch (frame.kind) {
    case FrameKind::Request: {
        const HSZ item = inst->strings.create(frame.item);
        const std::uint32_t transaction = frame.transaction;
        const UINT format = frame.format;
        const HDDEDATA result = inst->call(XTYP_REQUEST, format, hconv, conv->topic, item, 0, 0, 0);
        inst->strings.release(item);
        DataTable::Slot* slot = result != 0 ? m_data.find(result) : nullptr;
        if (!conv->closed()) {
            if (slot != nullptr) {
                replyTo(conv, transaction, DMLERR_NO_ERROR, format, slot->bytes.data(),
                        std::uint32_t(slot->bytes.size()));
            } else {
                replyTo(conv, transaction, DMLERR_NOTPROCESSED, format);
            }
        }
        if (slot != nullptr) {
            m_data.release(result);
        }
        return;
    }
    case FrameKind::Poke:
    case FrameKind::Execute: {
        const bool poke = frame.kind == FrameKind::Poke;
        const HSZ item = poke ? inst->strings.create(frame.item) : 0;
        const HDDEDATA data =
            m_data.create(inst->id, frame.data, frame.dataSize, frame.format, item, false);
        const std::uint32_t transaction = frame.transaction;
        const HDDEDATA result = inst->call(poke ? XTYP_POKE : XTYP_EXECUTE, frame.format, hconv,
                                           conv->topic, item, data, 0, 0);
        m_data.free(data);
        if (item != 0) {
            inst->strings.release(item);
        }
        if (!conv->closed()) {
            replyTo(conv, transaction, replyErrorFromFlags(result));
        }
        return;
    }
    case FrameKind::AdviseStart: {
        const HSZ item = inst->strings.create(frame.item);
        const std::uint32_t transaction = frame.transaction;
        const UINT format = frame.format;
        const std::uint32_t flags = frame.flags & (kAdviseAckRequested | kAdviseNoData);
        const std::uint32_t key = frame.key;
        const HDDEDATA ok = inst->call(XTYP_ADVSTART, format, hconv, conv->topic, item, 0, 0, 0);
        if (conv->closed()) {
            inst->strings.release(item);
            return;
        }
        if (ok == 0) {
            inst->strings.release(item);
            replyTo(conv, transaction, DMLERR_NOTPROCESSED);
            return;
        }
        // A second start of the same item and format renews the link.
        std::uint32_t head = UINT32_MAX;
        if (const auto it = conv->linkByItem.find(item); it != conv->linkByItem.end()) {
            head = it->second;
        }
        for (std::uint32_t i = head; i != UINT32_MAX; i = conv->links[i].next) {
            if (conv->links[i].format == format) {
                ServerLink& link = conv->links[i];
                link.flags = flags;
                link.key = key;
                link.awaitingAck = false;
                link.changed = false;
                inst->strings.release(item);
                replyTo(conv, transaction, DMLERR_NO_ERROR);
                return;
            }
        }
        std::uint32_t index;
        if (!conv->freeLinks.empty()) {
            index = conv->freeLinks.back();
            conv->freeLinks.pop_back();
        } else {
            index = std::uint32_t(conv->links.size());
            conv->links.emplace_back();
        }
        ServerLink& link = conv->links[index];
        link = ServerLink{};
        link.item = item; // keeps the reference taken above
        link.format = format;
        link.flags = flags;
        link.key = key;
        link.serial = conv->nextSerial++;
        link.alive = true;
        link.next = head;
        conv->linkByItem[item] = index;
        replyTo(conv, transaction, DMLERR_NO_ERROR);
        return;
    }
    case FrameKind::AdviseStop: {
        const HSZ item = inst->strings.create(frame.item);
        const std::uint32_t transaction = frame.transaction;
        const UINT format = frame.format;
        std::uint32_t found = UINT32_MAX;
        if (const auto it = conv->linkByItem.find(item); it != conv->linkByItem.end()) {
            for (std::uint32_t i = it->second; i != UINT32_MAX; i = conv->links[i].next) {
                if (conv->links[i].format == format) {
                    found = i;
                    break;
                }
            }
        }
        if (found == UINT32_MAX) {
            inst->strings.release(item);
            replyTo(conv, transaction, DMLERR_NOTPROCESSED);
            return;
        }
        removeLink(conv, found);
        replyTo(conv, transaction, DMLERR_NO_ERROR);
        inst->call(XTYP_ADVSTOP, format, hconv, conv->topic, item, 0, 0, 0);
        inst->strings.release(item);
        return;
    }
    case FrameKind::AdviseAck:
        handleAdviseAck(conv, frame);
        return;
    default:
        lose(conv, "frame kind not sent to a server");
        return;
    }
}

void ThreadContext::removeLink(Conversation* conv, std::uint32_t index) {
    ServerLink& link = conv->links[index];
    const auto it = conv->linkByItem.find(link.item);
    if (it != conv->linkByItem.end()) {
        if (it->second == index) {
            if (link.next == UINT32_MAX) {
                conv->linkByItem.erase(it);
            } else {
                it->second = link.next;
            }
        } else {
            for (std::uint32_t i = it->second; i != UINT32_MAX; i = conv->links[i].next) {
                if (conv->links[i].next == index) {
                    conv->links[i].next = link.next;
                    break;
                }
            }
        }
    }
    conv->instance->strings.release(link.item);
    link = ServerLink{};
    conv->freeLinks.push_back(index);
}

void ThreadContext::handleAdviseAck(Conversation* conv, const Frame& frame) {
    if (frame.link >= conv->links.size()) {
        return; // a link that has ended meanwhile
    }
    ServerLink& link = conv->links[frame.link];
    if (!link.alive || link.serial != frame.serial) {
        return;
    }
    link.awaitingAck = false;
    if (link.changed) {
        link.changed = false;
        sendUpdate(conv, frame.link, 0);
    }
}

void ThreadContext::sendUpdate(Conversation* conv, std::uint32_t index, std::uint32_t remaining) {
    Instance* inst = conv->instance;
    const ServerLink before = conv->links[index];
    const HDDEDATA data = inst->call(XTYP_ADVREQ, before.format, conv->handle, conv->topic,
                                     before.item, 0, remaining, 0);
    DataTable::Slot* slot = data != 0 ? m_data.find(data) : nullptr;
    const bool noData = (before.flags & kAdviseNoData) != 0;
    if (conv->closed() || index >= conv->links.size() || !conv->links[index].alive ||
        conv->links[index].serial != before.serial || (slot == nullptr && !noData)) {
        if (slot != nullptr) {
            m_data.release(data);
        }
        return;
    }
    ServerLink& link = conv->links[index];
    Frame frame;
    frame.kind = FrameKind::AdviseData;
    frame.link = index;
    frame.serial = link.serial;
    frame.key = link.key;
    frame.format = link.format;
    frame.flags = link.flags;
    if (slot != nullptr && !noData) {
        frame.data = slot->bytes.data();
        frame.dataSize = std::uint32_t(slot->bytes.size());
    }
    link.awaitingAck = (link.flags & kAdviseAckRequested) != 0;
    send(conv, frame);
    if (slot != nullptr) {
        m_data.release(data);
    }
}

void ThreadContext::postAdvise(Instance* inst, HSZ topic, HSZ item) {
    const auto topicIt = inst->serverConversationsByTopic.find(topic);
    if (topicIt == inst->serverConversationsByTopic.end()) {
        return;
    }
    // Targets are gathered first: the callbacks below may end conversations
    // or links, or post advises themselves (the scratch list is a stack).
    const std::size_t base = m_adviseScratch.size();
    for (Conversation* conv : topicIt->second) {
        const auto it = conv->linkByItem.find(item);
        if (it == conv->linkByItem.end()) {
            continue;
        }
        for (std::uint32_t i = it->second; i != UINT32_MAX; i = conv->links[i].next) {
            ServerLink& link = conv->links[i];
            if (link.awaitingAck) {
                link.changed = true; // sent when the client acknowledges the last one
            } else {
                m_adviseScratch.push_back({conv, i, link.serial});
            }
        }
    }
    const std::size_t end = m_adviseScratch.size();
    for (std::size_t k = base; k < end; ++k) {
        const AdviseTarget target = m_adviseScratch[k];
        Conversation* conv = target.conversation;
        if (inst->dead) {
            break;
        }
        if (conv->closed() || target.link >= conv->links.size() ||
            conv->links[target.link].serial != target.serial) {
            continue;
        }
        if (conv->links[target.link].awaitingAck) {
            conv->links[target.link].changed = true;
            continue;
        }
        sendUpdate(conv, target.link, std::uint32_t(end - k - 1));
    }
    m_adviseScratch.resize(base);
}

void ThreadContext::handleClientFrame(Conversation* conv, const Frame& frame) {
    switch (frame.kind) {
    case FrameKind::Reply:
        handleReply(conv, frame);
        return;
    case FrameKind::AdviseData:
        handleAdviseData(conv, frame);
        return;
    default:
        lose(conv, "frame kind not sent to a client");
        return;
    }
}

void ThreadContext::handleReply(Conversation* conv, const Frame& frame) {
    Instance* inst = conv->instance;
    auto it = std::find_if(conv->pending.begin(), conv->pending.end(),
                           [&](const Transaction& t) { return t.id == frame.transaction; });
    if (it == conv->pending.end()) {
        return; // abandoned and forgotten, or never ours
    }
    Transaction t = *it;
    conv->pending.erase(it);
    const UINT error = frame.status == DMLERR_NO_ERROR ? DMLERR_NO_ERROR
                       : frame.status == DMLERR_BUSY   ? DMLERR_BUSY
                                                       : DMLERR_NOTPROCESSED;
    const bool ok = error == DMLERR_NO_ERROR;
    if (ok && t.type == XTYP_ADVSTART && !t.abandoned) {
        if (conv->instance->strings.keep(t.item)) {
            auto [link, added] = conv->clientLinks.emplace(linkKey(t.item, t.format), t.flags);
            if (!added) {
                inst->strings.release(t.item); // renewed: one reference per link
                link->second = t.flags;
            }
        }
    } else if (ok && t.type == XTYP_ADVSTOP) {
        if (conv->clientLinks.erase(linkKey(t.item, t.format)) != 0) {
            inst->strings.release(t.item);
        }
    }
    if (t.abandoned) {
        inst->strings.release(t.item);
        return;
    }
    if (t.sync) {
        SyncWait* wait = conv->syncWait;
        if (wait != nullptr && wait->id == t.id) {
            wait->done = true;
            wait->error = error;
            if (ok && t.type == XTYP_REQUEST) {
                wait->data =
                    m_data.create(inst->id, frame.data, frame.dataSize, t.format, t.item, false);
            }
        }
        inst->strings.release(t.item);
        return;
    }
    HDDEDATA data = 0;
    if (ok) {
        data = t.type == XTYP_REQUEST
                   ? m_data.create(inst->id, frame.data, frame.dataSize, t.format, t.item, false)
                   : HDDEDATA(TRUE);
    } else {
        inst->setError(error);
    }
    const ULONG_PTR status = ok ? DDE_FACK : (error == DMLERR_BUSY ? DDE_FBUSY : 0);
    conv->completing.push_back(t);
    inst->call(XTYP_XACT_COMPLETE, t.format, conv->handle, conv->topic, t.item, data, t.id, status);
    conv->completing.pop_back();
    if (ok && t.type == XTYP_REQUEST) {
        m_data.free(data); // the library's: valid only during the callback
    }
    inst->strings.release(t.item);
}

void ThreadContext::handleAdviseData(Conversation* conv, const Frame& frame) {
    Instance* inst = conv->instance;
    const bool ack = (frame.flags & kAdviseAckRequested) != 0;
    const std::uint32_t linkIndex = frame.link;
    const std::uint32_t serial = frame.serial;
    const HSZ item = frame.key;
    const auto it = conv->clientLinks.find(linkKey(item, frame.format));
    if (it != conv->clientLinks.end()) {
        const bool noData = (frame.flags & kAdviseNoData) != 0;
        const HDDEDATA data =
            noData ? 0
                   : m_data.create(inst->id, frame.data, frame.dataSize, frame.format, item, false);
        inst->call(XTYP_ADVDATA, frame.format, conv->handle, conv->topic, item, data, 0, 0);
        if (data != 0) {
            m_data.free(data);
        }
    }
    if (ack && !conv->closed()) {
        Frame reply;
        reply.kind = FrameKind::AdviseAck;
        reply.link = linkIndex;
        reply.serial = serial;
        send(conv, reply);
    }
}

void ThreadContext::send(Conversation* conv, const Frame& frame) {
    if (conv->closed()) {
        return;
    }
    conv->out.appendFrame(frame);
    if (conv->out.readable() >= kFlushThresholdBytes) {
        flush(conv);
    } else {
        markDirty(conv);
    }
}

void ThreadContext::sendNow(Conversation* conv, const Frame& frame) {
    if (!conv->closed()) {
        conv->out.appendFrame(frame);
        flush(conv);
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

void ThreadContext::flush(Conversation* conv) {
    while (!conv->closed() && !conv->out.empty()) {
        const ssize_t n = ::send(conv->fd, conv->out.readPtr(), conv->out.readable(),
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            conv->out.consume(std::size_t(n));
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (conv->out.readable() > kMaxQueuedOutputBytes) {
                qCWarning(lcDdeml) << "DDE partner does not read; ending the conversation";
                ::shutdown(conv->fd, SHUT_RDWR); // the read side reports the loss
                conv->out.clear();
                return;
            }
            setPollingOut(conv, true);
            return;
        }
        // The partner is gone; the read side sees it and reports the loss
        // from the event loop, so that writing never calls back.
        ::shutdown(conv->fd, SHUT_RDWR);
        conv->out.clear();
        return;
    }
    if (conv->out.empty()) {
        setPollingOut(conv, false);
        conv->out.shrinkIfIdle(kIdleBufferBytes);
    }
}

void ThreadContext::flushAll() {
    // Conversations are retired only when the outermost frame ends, so the
    // pointers stay valid while the list is walked.
    std::vector<Conversation*> dirty;
    dirty.swap(m_dirty);
    for (Conversation* conv : dirty) {
        conv->queuedForFlush = false;
        flush(conv);
    }
    if (m_dirty.empty() && dirty.capacity() > m_dirty.capacity()) {
        dirty.clear();
        m_dirty.swap(dirty); // keep the storage
    }
}

void ThreadContext::closeTransport(Conversation* conv) {
    if (conv->fd >= 0) {
        unwatch(conv->fd);
        ::close(conv->fd);
        conv->fd = -1;
    }
    conv->state = Conversation::State::Closed;
    conv->out.clear();
}

void ThreadContext::disconnect(Conversation* conv) {
    Scope scope(*this);
    conv->localEnded = true;
    if (conv->closed()) {
        return; // being ended by the partner right now; finished there
    }
    flush(conv); // what was sent before the disconnect still reaches the partner
    closeTransport(conv);
    if (conv->syncWait != nullptr) {
        conv->syncWait->done = true;
        conv->syncWait->error = DMLERR_NO_CONV_ESTABLISHED;
        conv->syncWait = nullptr;
    }
    finish(conv);
}

void ThreadContext::lose(Conversation* conv, const char* reason) {
    if (conv->closed()) {
        return;
    }
    Scope scope(*this);
    Instance* inst = conv->instance;
    const bool announced = conv->handle != 0;
    if (announced) {
        qCDebug(lcDdeml) << "DDE conversation" << conv->handle << "lost:" << reason;
    }
    closeTransport(conv);
    if (!announced) {
        finish(conv);
        return;
    }
    if (conv->syncWait != nullptr) {
        conv->syncWait->done = true;
        conv->syncWait->error = DMLERR_SERVER_DIED;
        conv->syncWait = nullptr;
    }
    // Every pending asynchronous transaction completes as failed, in the
    // order it was started, then the disconnect follows.
    std::deque<Transaction> pending;
    pending.swap(conv->pending);
    for (Transaction& t : pending) {
        if (!t.abandoned && !t.sync && !conv->localEnded && !inst->dead) {
            inst->setError(DMLERR_SERVER_DIED);
            conv->completing.push_back(t);
            inst->call(XTYP_XACT_COMPLETE, t.format, conv->handle, conv->topic, t.item, 0, t.id, 0);
            conv->completing.pop_back();
        }
        inst->strings.release(t.item);
    }
    if (!conv->localEnded && !inst->dead) {
        inst->call(XTYP_DISCONNECT, 0, conv->handle, 0, 0, 0, 0, 0);
    }
    finish(conv);
}

void ThreadContext::finish(Conversation* conv) {
    Instance* inst = conv->instance;
    if (conv->handle != 0) {
        m_conversations.erase(conv->handle);
    }
    for (Transaction& t : conv->pending) {
        inst->strings.release(t.item);
    }
    conv->pending.clear();
    for (const auto& [key, flags] : conv->clientLinks) {
        inst->strings.release(HSZ(key >> 32));
    }
    conv->clientLinks.clear();
    for (std::uint32_t i = 0; i < conv->links.size(); ++i) {
        if (conv->links[i].alive) {
            inst->strings.release(conv->links[i].item);
        }
    }
    conv->links.clear();
    conv->linkByItem.clear();
    if (!conv->client && conv->handle != 0) {
        const auto it = inst->serverConversationsByTopic.find(conv->topic);
        if (it != inst->serverConversationsByTopic.end()) {
            auto& list = it->second;
            list.erase(std::remove(list.begin(), list.end(), conv), list.end());
            if (list.empty()) {
                inst->serverConversationsByTopic.erase(it);
            }
        }
    }
    if (conv->topic != 0) {
        inst->strings.release(conv->topic);
        conv->topic = 0;
    }
    if (conv->service != 0) {
        inst->strings.release(conv->service);
        conv->service = 0;
    }
    inst->conversations.erase(
        std::remove(inst->conversations.begin(), inst->conversations.end(), conv),
        inst->conversations.end());
    if (conv->queuedForFlush) {
        m_dirty.erase(std::remove(m_dirty.begin(), m_dirty.end(), conv), m_dirty.end());
        conv->queuedForFlush = false;
    }
    retire(conv);
}

bool ThreadContext::waitConnect(Conversation* conv, int fd, std::uint32_t events, int timeoutMs) {
    // Waits on the client's socket while serving the listeners of this
    // thread, so that a server on the same thread can answer.
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        std::vector<pollfd> fds;
        fds.push_back({fd, short(events), 0});
        std::vector<Service*> services;
        for (Instance* inst : m_instances) {
            for (Service* service : inst->services) {
                if (!service->closed) {
                    fds.push_back({service->listenFd, POLLIN, 0});
                    services.push_back(service);
                }
            }
        }
        const int left = remainingMs(deadline);
        const int n = ::poll(fds.data(), fds.size(), left);
        if (n < 0 && errno != EINTR) {
            return false;
        }
        if (n > 0) {
            for (std::size_t i = 1; i < fds.size(); ++i) {
                if (fds[i].revents != 0 && !services[i - 1]->closed) {
                    acceptPending(services[i - 1]);
                }
            }
            if (fds[0].revents != 0) {
                return true;
            }
        }
        if (conv != nullptr && conv->closed()) {
            return false;
        }
        if (left == 0) {
            return false;
        }
    }
}

Conversation* ThreadContext::connect(Instance* inst, const std::string& serviceName,
                                     const std::string& topicName, const CONVCONTEXT* context) {
    const std::string path = inst->dir + "/" + serviceSocketName(serviceName);
    sockaddr_un address{};
    if (!fillAddress(path, address)) {
        qCWarning(lcDdeml) << "DDE socket path too long:" << path.c_str();
        return nullptr;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return nullptr;
    }
    auto* conv = new Conversation(inst, true, fd);
    std::unique_ptr<Conversation> guard(conv);
    const int timeout = g_connectTimeoutMs;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        if (errno != EAGAIN && errno != EINPROGRESS) {
            return nullptr; // no such service, or a stale socket of a dead server
        }
        int error = 0;
        socklen_t len = sizeof(error);
        if (!waitConnect(nullptr, fd, POLLOUT, timeout) ||
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0) {
            return nullptr;
        }
    }
    if (!peerIsSameUser(fd)) {
        qCWarning(lcDdeml) << "DDE service" << serviceName.c_str() << "runs as another user";
        return nullptr;
    }
    Frame hello;
    hello.kind = FrameKind::Hello;
    hello.version = kProtocolVersion;
    hello.codePage = context != nullptr ? context->iCodePage : CP_WINANSI;
    hello.service = serviceName;
    hello.topic = topicName;
    conv->out.appendFrame(hello);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout);
    while (!conv->out.empty()) {
        const ssize_t n =
            ::send(fd, conv->out.readPtr(), conv->out.readable(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            conv->out.consume(std::size_t(n));
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (!waitConnect(nullptr, fd, POLLOUT, remainingMs(deadline))) {
                return nullptr;
            }
        } else {
            return nullptr;
        }
    }
    // The answer: exactly one Accept or Refuse, nothing after it.
    for (;;) {
        Frame frame;
        std::size_t used = 0;
        const DecodeResult result =
            decodeFrame(conv->in.readPtr(), conv->in.readable(), frame, used);
        if (result == DecodeResult::Complete) {
            conv->in.consume(used);
            if (frame.kind != FrameKind::Accept || frame.version != kProtocolVersion ||
                !conv->in.empty()) {
                return nullptr;
            }
            break;
        }
        if (result != DecodeResult::NeedMore) {
            return nullptr;
        }
        const int left = remainingMs(deadline);
        if (left == 0 || !waitConnect(nullptr, fd, POLLIN, left)) {
            qCDebug(lcDdeml) << "DDE service" << serviceName.c_str() << "did not answer";
            return nullptr;
        }
        const ssize_t n = ::recv(fd, conv->in.reserveWrite(256), 256, 0);
        if (n > 0) {
            conv->in.commit(std::size_t(n));
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            return nullptr;
        }
    }
    guard.release();
    conv->state = Conversation::State::Connected;
    conv->handle = nextConversationHandle();
    conv->service = inst->strings.create(serviceName);
    conv->topic = topicName.empty() ? 0 : inst->strings.create(topicName);
    conv->context = context != nullptr ? *context : CONVCONTEXT{};
    inst->conversations.push_back(conv);
    m_conversations.emplace(conv->handle, conv);
    watch(fd, &conv->tag, EPOLLIN | EPOLLRDHUP);
    return conv;
}

bool ThreadContext::registerService(Instance* inst, HSZ name) {
    const std::string* text = inst->strings.text(name);
    if (text == nullptr || text->empty()) {
        inst->setError(DMLERR_INVALIDPARAMETER);
        return false;
    }
    for (Service* service : inst->services) {
        if (service->name == name) {
            return true;
        }
    }
    auto service = std::make_unique<Service>();
    service->instance = inst;
    service->socketPath = inst->dir + "/" + serviceSocketName(*text);
    sockaddr_un address{};
    if (!fillAddress(service->socketPath, address)) {
        qCWarning(lcDdeml) << "DDE socket path too long:" << service->socketPath.c_str();
        inst->setError(DMLERR_SYS_ERROR);
        return false;
    }
    // The lock says whether a live server holds the name; a socket file
    // without it was left by a dead server and is replaced. The lock file
    // stays, so that two registrants always lock the same file.
    const std::string lockPath = service->socketPath + ".lock";
    service->lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (service->lockFd < 0 || ::flock(service->lockFd, LOCK_EX | LOCK_NB) != 0) {
        qCWarning(lcDdeml) << "DDE service" << text->c_str() << "is already registered";
        inst->setError(DMLERR_DLL_USAGE);
        return false;
    }
    ::unlink(service->socketPath.c_str());
    service->listenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (service->listenFd < 0 ||
        ::bind(service->listenFd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(service->listenFd, kListenBacklog) != 0) {
        qCWarning(lcDdeml) << "DDE service" << text->c_str()
                           << "cannot listen:" << std::strerror(errno);
        inst->setError(DMLERR_SYS_ERROR);
        return false;
    }
    inst->strings.keep(name);
    service->name = name;
    Service* raw = service.release();
    inst->services.push_back(raw);
    watch(raw->listenFd, &raw->tag, EPOLLIN);
    return true;
}

void ThreadContext::unregisterService(Service* service) {
    Scope scope(*this);
    Instance* inst = service->instance;
    service->closed = true;
    unwatch(service->listenFd);
    ::close(service->listenFd);
    service->listenFd = -1;
    ::unlink(service->socketPath.c_str()); // still under the lock: nobody else bound it
    ::close(service->lockFd);
    service->lockFd = -1;
    inst->strings.release(service->name);
    inst->services.erase(std::remove(inst->services.begin(), inst->services.end(), service),
                         inst->services.end());
    retire(service);
}

} // namespace orvane::dde
