// The server side of the DDE engine: registering a service, accepting and
// greeting clients, answering transactions and keeping advise links.

#include "platform/DdeEngine.h"

#include "platform/DdeRuntime.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace orvane::dde {

namespace {

UINT replyErrorFromFlags(HDDEDATA result) {
    if (result & DDE_FACK) {
        return DMLERR_NO_ERROR;
    }
    return (result & DDE_FBUSY) ? DMLERR_BUSY : DMLERR_NOTPROCESSED;
}

} // namespace

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

HSZ ThreadContext::firstWildTopic(Instance* inst, HDDEDATA pairs, HSZ service) {
    const DataTable::Slot* slot = pairs != 0 ? m_data.find(pairs) : nullptr;
    if (slot == nullptr) {
        return 0;
    }
    // Read field by field: the block need not be aligned for HSZPAIR.
    const std::size_t count = slot->bytes.size() / sizeof(HSZPAIR);
    for (std::size_t i = 0; i < count; ++i) {
        HSZPAIR pair;
        std::memcpy(&pair, slot->bytes.data() + i * sizeof(HSZPAIR), sizeof(HSZPAIR));
        if (pair.hszSvc == 0 && pair.hszTopic == 0) {
            break;
        }
        const std::string* text = inst->strings.text(pair.hszTopic);
        if (text != nullptr && !text->empty() && (pair.hszSvc == 0 || pair.hszSvc == service)) {
            return inst->strings.create(*text);
        }
    }
    return 0;
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
    HSZ topic = frame.topic.empty() ? 0 : inst->strings.create(frame.topic);
    const HSZ service = frame.service.empty() ? 0 : inst->strings.create(frame.service);
    conv->topic = topic;
    conv->service = service;
    conv->context = CONVCONTEXT{};
    conv->context.cb = 36;
    conv->context.iCodePage = frame.codePage;
    bool accepted = false;
    if (topic != 0) {
        accepted =
            inst->call(XTYP_CONNECT, 0, 0, topic, service, ULONG_PTR(&conv->context), 0, 0) != 0;
    } else {
        // Any topic: the server names the topics it offers, and the
        // conversation is on the first.
        const HDDEDATA pairs =
            inst->call(XTYP_WILDCONNECT, 0, 0, 0, service, ULONG_PTR(&conv->context), 0, 0);
        if (inst->dead || conv->closed()) {
            m_data.release(pairs);
            return;
        }
        topic = firstWildTopic(inst, pairs, service);
        m_data.release(pairs);
        conv->topic = topic;
        accepted = topic != 0;
    }
    if (inst->dead || conv->closed()) {
        return;
    }
    if (!accepted) {
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
    const std::string* topicText = inst->strings.text(topic);
    accept.topic = topicText != nullptr ? std::string_view(*topicText) : std::string_view();
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

bool ThreadContext::registerService(Instance* inst, HSZ name) {
    const std::string* text = inst->strings.text(name);
    if (text == nullptr || text->empty()) {
        inst->setError(DMLERR_INVALIDPARAMETER);
        return false;
    }
    for (Service* service : inst->services) {
        if (service->name == name) {
            inst->setError(DMLERR_DLL_USAGE); // as a second registration by anyone else
            return false;
        }
    }
    auto service = std::make_unique<Service>();
    service->instance = inst;
    service->socketPath = inst->dir + "/" + serviceSocketName(*text);
    sockaddr_un address{};
    if (!fillSocketAddress(service->socketPath, address)) {
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

void ThreadContext::announce(UINT type, const std::string& name, DWORD server) {
    char suffix[24];
    std::snprintf(suffix, sizeof(suffix), "(0x%08x)", unsigned(server));
    const std::string instanceName = name + suffix;
    const DWORD skip = type == XTYP_REGISTER ? CBF_SKIP_REGISTRATIONS : CBF_SKIP_UNREGISTRATIONS;
    // A callback may end instances: walk a copy and skip the dead.
    for (Instance* inst : std::vector<Instance*>(m_instances)) {
        if (inst->dead || (inst->flags & skip) != 0) {
            continue;
        }
        const HSZ base = inst->strings.create(name);
        const HSZ specific = inst->strings.create(instanceName);
        inst->call(type, 0, 0, base, specific, 0, 0, 0);
        if (!inst->dead) {
            inst->strings.release(specific);
            inst->strings.release(base);
        }
    }
}

} // namespace orvane::dde
