// Conversations on the wire: reading and decoding frames, queueing and
// writing output, and ending a conversation from either side.

#include "platform/DdeEngine.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace orvane::dde {

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

} // namespace orvane::dde
