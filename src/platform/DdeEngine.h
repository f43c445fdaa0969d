#pragma once

// Inner workings of the DDEML stand-in (ddeml.h): per-thread context with its
// epoll set, instances, conversations and services (handle tables in
// DdeHandles.h). The context's work is spread by job over DdeEngine.cpp
// (lifetime and loop), DdeTransport.cpp, DdeServer.cpp and DdeClient.cpp.
// Only Ddeml.cpp, the tests and the benchmark include this header.
//
// Ownership: the thread context owns its instances; an instance owns its
// conversations and services. Objects that end while a callback may still be
// on the stack are retired to a graveyard and freed when the outermost library
// frame of the thread returns, so that code which called a callback only has
// to check the `closed`/`dead` flags afterwards, never a dangling pointer.

#include "platform/DdeFrame.h"
#include "platform/DdeHandles.h"
#include "platform/ddeml.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcDdeml)

class QObject;

namespace orvane::dde {

// Time a DdeConnect waits for the server's answer to its greeting.
constexpr int kConnectTimeoutMs = 5000;
// Events taken from the epoll set per wake-up.
constexpr int kEpollBatch = 64;
// Free space a read asks the socket to fill.
constexpr std::size_t kReadChunkBytes = 64 * 1024;
// Reads of one conversation per wake-up before others get their turn.
constexpr int kReadsPerWake = 4;
// Queued output beyond this is written at once instead of at the end of the turn.
constexpr std::size_t kFlushThresholdBytes = 256 * 1024;
// A partner that leaves this much output unread is treated as lost.
constexpr std::size_t kMaxQueuedOutputBytes = 64u * 1024u * 1024u;
constexpr int kListenBacklog = 128;
constexpr int kMaxAcceptsPerWake = 64;
// Connections of a service that have not greeted yet; beyond this the oldest
// is dropped, so that clients which connect and say nothing cannot pile up.
constexpr std::size_t kMaxPendingGreetings = 32;

class ThreadContext;
class Instance;
class Conversation;
class Service;

// Something the epoll set reports on.
struct PollTag {
    enum class Kind { Listener, Conversation } kind;
    void* object;
};

// Base of the objects that may be freed late (see the graveyard above).
class Retired {
public:
    virtual ~Retired() = default;
};

struct Transaction {
    DWORD id = 0;
    UINT type = 0;  // XTYP_* without the XTYPF_* flags
    UINT flags = 0; // XTYPF_ACKREQ, XTYPF_NODATA of an advise start
    UINT format = 0;
    HSZ item = 0; // one reference held by the transaction
    bool abandoned = false;
    bool sync = false;
};

// Where a synchronous DdeClientTransaction waits for its answer.
struct SyncWait {
    DWORD id = 0;
    bool done = false;
    UINT error = DMLERR_NO_ERROR;
    HDDEDATA data = 0;
};

struct ServerLink {
    HSZ item = 0; // one reference held by the link
    UINT format = 0;
    std::uint32_t flags = 0; // kAdviseAckRequested, kAdviseNoData
    std::uint32_t key = 0;   // the client's key of the item
    std::uint32_t serial = 0;
    std::uint32_t next = UINT32_MAX; // next link of the same item (other format)
    bool alive = false;
    bool awaitingAck = false;
    bool changed = false; // an update came while the previous one was unacknowledged
};

class Conversation : public Retired {
public:
    enum class State { Handshake, Connected, Closed };
    Conversation(Instance* instance, bool client, int fd);
    ~Conversation() override;

    Instance* instance;
    const bool client;
    int fd;
    State state = State::Handshake;
    HCONV handle = 0;
    HSZ service = 0; // one reference each
    HSZ topic = 0;
    CONVCONTEXT context;
    PollTag tag{PollTag::Kind::Conversation, this};
    DdeBuffer in;
    DdeBuffer out;
    bool queuedForFlush = false;
    bool pollingOut = false;
    bool localEnded = false; // ended by this side: no more callbacks for it

    // Client side.
    std::deque<Transaction> pending;
    std::vector<Transaction> completing; // whose XTYP_XACT_COMPLETE runs now
    SyncWait* syncWait = nullptr;
    std::unordered_map<std::uint64_t, std::uint32_t> clientLinks; // (item, format) -> flags

    // Server side.
    std::vector<ServerLink> links;
    std::vector<std::uint32_t> freeLinks;
    std::unordered_map<HSZ, std::uint32_t> linkByItem; // first link of the item
    std::uint32_t nextSerial = 1;

    bool closed() const { return state == State::Closed; }
};

class Service : public Retired {
public:
    ~Service() override;
    Instance* instance = nullptr;
    HSZ name = 0; // one reference
    std::string socketPath;
    int listenFd = -1;
    int lockFd = -1;
    bool closed = false;
    PollTag tag{PollTag::Kind::Listener, this};
};

class Instance : public Retired {
public:
    Instance(ThreadContext* context, DWORD id, PFNCALLBACK callback, DWORD flags, std::string dir);
    ~Instance() override;

    // Calls the application's callback unless the instance has ended; an
    // exception escaping it is logged and taken as a 0 result.
    HDDEDATA call(UINT type, UINT format, HCONV conv, HSZ hsz1, HSZ hsz2, HDDEDATA data,
                  ULONG_PTR data1, ULONG_PTR data2);
    void setError(UINT error) { lastError = error; }

    ThreadContext* context;
    const DWORD id;
    PFNCALLBACK callback;
    DWORD flags;
    const std::string dir;
    UINT lastError = DMLERR_NO_ERROR;
    bool dead = false;
    bool inSyncTransaction = false;
    DWORD nextTransaction = 0;
    StringTable strings;
    std::vector<Conversation*> conversations;
    std::vector<Service*> services;
    std::unordered_map<HSZ, std::vector<Conversation*>> serverConversationsByTopic;
};

class ThreadContext {
public:
    ThreadContext();
    ~ThreadContext();
    ThreadContext(const ThreadContext&) = delete;
    ThreadContext& operator=(const ThreadContext&) = delete;

    // The calling thread's context; created on first use when `create`.
    static ThreadContext* current(bool create);

    // Marks a library frame on the stack: objects retired meanwhile are
    // freed when the outermost frame ends.
    class Scope {
    public:
        explicit Scope(ThreadContext& context) : m_context(context) { ++m_context.m_depth; }
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        ThreadContext& m_context;
    };

    // Marks an application callback on the stack: output it queues is not
    // left to the batch that called it.
    class CallbackFrame {
    public:
        explicit CallbackFrame(ThreadContext& context)
            : m_context(context), m_inBatch(context.m_inBatch) {
            m_context.m_inBatch = false;
        }
        ~CallbackFrame() { m_context.m_inBatch = m_inBatch; }
        CallbackFrame(const CallbackFrame&) = delete;
        CallbackFrame& operator=(const CallbackFrame&) = delete;

    private:
        ThreadContext& m_context;
        bool m_inBatch;
    };

    Instance* instance(DWORD id) const;
    Conversation* conversation(HCONV handle) const;
    DataTable& data() { return m_data; }
    const std::vector<Instance*>& instances() const { return m_instances; }

    Instance* addInstance(PFNCALLBACK callback, DWORD flags, std::string dir);
    void uninitialize(Instance* instance);

    // Waits up to timeoutMs (0 = only what is ready) for socket events of
    // this thread and handles them, then writes what the handling queued.
    void pump(int timeoutMs);

    // Client side.
    Conversation* connect(Instance* instance, const std::string& service, const std::string& topic,
                          const CONVCONTEXT* context);
    // Server side.
    bool registerService(Instance* instance, HSZ name);
    void unregisterService(Service* service);
    void postAdvise(Instance* instance, HSZ topic, HSZ item);
    // Tells every instance of this thread that `server` registered or
    // unregistered a service name (XTYP_REGISTER, XTYP_UNREGISTER).
    void announce(UINT type, const std::string& name, DWORD server);

    // Ends the conversation from this side: no callbacks to this side, the
    // partner sees a disconnect.
    void disconnect(Conversation* conversation);
    // The conversation's partner is gone or broke the protocol: pending
    // transactions complete as failed, then XTYP_DISCONNECT.
    void lose(Conversation* conversation, const char* reason);

    // Queues a frame and arranges for it to be written.
    void send(Conversation* conversation, const Frame& frame);
    // Queues a frame behind what is queued and writes the queue at once.
    void sendNow(Conversation* conversation, const Frame& frame);
    void flush(Conversation* conversation);
    void flushAll();

    // Sends the latest value of a server link (XTYP_ADVREQ).
    void sendUpdate(Conversation* conversation, std::uint32_t link, std::uint32_t remaining);

    // Test hook: the time DdeConnect waits for a server's answer.
    static void setConnectTimeoutForTesting(int ms);

private:
    friend class Scope;
    friend class ContextObject;
    void handleEvent(PollTag* tag, std::uint32_t events);
    void acceptPending(Service* service);
    void readAndProcess(Conversation* conversation);
    void processFrames(Conversation* conversation);
    void handleFrame(Conversation* conversation, const Frame& frame);
    void handleHello(Conversation* conversation, const Frame& frame);
    // The first topic of a server's XTYP_WILDCONNECT answer that fits the
    // service, with a reference taken; 0 when none.
    HSZ firstWildTopic(Instance* instance, HDDEDATA pairs, HSZ service);
    void handleServerFrame(Conversation* conversation, const Frame& frame);
    void handleClientFrame(Conversation* conversation, const Frame& frame);
    void handleReply(Conversation* conversation, const Frame& frame);
    void handleAdviseData(Conversation* conversation, const Frame& frame);
    void handleAdviseAck(Conversation* conversation, const Frame& frame);
    void replyTo(Conversation* conversation, std::uint32_t transaction, UINT error, UINT format = 0,
                 const std::uint8_t* data = nullptr, std::uint32_t size = 0);
    void removeLink(Conversation* conversation, std::uint32_t index);
    void closeTransport(Conversation* conversation);
    void finish(Conversation* conversation);
    void watch(int fd, PollTag* tag, std::uint32_t events);
    void unwatch(int fd);
    void setPollingOut(Conversation* conversation, bool on);
    void markDirty(Conversation* conversation);
    void retire(Retired* object);
    void reap();
    void ensureEventObject();
    void onNotifier();
    void onFlushEvent();
    bool waitConnect(Conversation* conversation, int fd, std::uint32_t events, int timeoutMs);

    int m_epoll = -1;
    int m_depth = 0;
    bool m_inNotifier = false;
    bool m_inBatch = false; // handling a batch of socket events; its end flushes
    bool m_flushPosted = false;
    std::uint8_t m_tag;
    DataTable m_data;
    std::vector<Instance*> m_instances;
    std::unordered_map<HCONV, Conversation*> m_conversations;
    std::vector<Conversation*> m_dirty;
    std::vector<std::unique_ptr<Retired>> m_graveyard;
    QObject* m_eventObject = nullptr;
    bool m_dropEventObject = false;
    struct AdviseTarget {
        Conversation* conversation;
        std::uint32_t link;
        std::uint32_t serial;
    };
    std::vector<AdviseTarget> m_adviseScratch;
};

// The calling thread's live instance of that id, or null.
Instance* findInstance(DWORD idInst);
// The calling thread's conversation of that handle whose instance lives, or null.
Conversation* findConversation(HCONV hConv);

} // namespace orvane::dde
