// The client side of the DDE engine: connecting to a service, and taking
// replies and advise data from the server.

#include "platform/DdeEngine.h"

#include "platform/DdeRuntime.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace orvane::dde {

namespace {

std::atomic<int> g_connectTimeoutMs{kConnectTimeoutMs};

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : int(std::min<long long>(left, 1 << 30));
}

std::uint64_t linkKey(HSZ item, UINT format) {
    return (std::uint64_t(item) << 32) | format;
}

} // namespace

void ThreadContext::setConnectTimeoutForTesting(int ms) {
    g_connectTimeoutMs = ms > 0 ? ms : kConnectTimeoutMs;
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
    if (!fillSocketAddress(path, address)) {
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
    std::string acceptedTopic;
    for (;;) {
        Frame frame;
        std::size_t used = 0;
        const DecodeResult result =
            decodeFrame(conv->in.readPtr(), conv->in.readable(), frame, used);
        if (result == DecodeResult::Complete) {
            conv->in.consume(used);
            if (frame.kind != FrameKind::Accept || frame.version != kProtocolVersion ||
                !conv->in.empty() || (topicName.empty() && frame.topic.empty())) {
                return nullptr;
            }
            acceptedTopic = frame.topic;
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
    // Connected to any topic: the one the server chose.
    conv->topic = inst->strings.create(topicName.empty() ? acceptedTopic : topicName);
    conv->context = context != nullptr ? *context : CONVCONTEXT{};
    inst->conversations.push_back(conv);
    m_conversations.emplace(conv->handle, conv);
    watch(fd, &conv->tag, EPOLLIN | EPOLLRDHUP);
    return conv;
}

} // namespace orvane::dde
