// The client-side DDEML functions of ddeml.h: connecting, transactions and
// what a client asks about its conversations.

#include "platform/DdeEngine.h"
#include "platform/ddeml.h"

#include <algorithm>
#include <chrono>
#include <cstring>

using orvane::dde::Conversation;
using orvane::dde::findConversation;
using orvane::dde::findInstance;
using orvane::dde::Frame;
using orvane::dde::FrameKind;
using orvane::dde::Instance;
using orvane::dde::SyncWait;
using orvane::dde::ThreadContext;
using orvane::dde::Transaction;

namespace {

UINT timeoutError(UINT type) {
    switch (type) {
    case XTYP_REQUEST:
        return DMLERR_DATAACKTIMEOUT;
    case XTYP_POKE:
        return DMLERR_POKEACKTIMEOUT;
    case XTYP_EXECUTE:
        return DMLERR_EXECACKTIMEOUT;
    case XTYP_ADVSTART:
        return DMLERR_ADVACKTIMEOUT;
    default:
        return DMLERR_UNADVACKTIMEOUT;
    }
}

} // namespace

// ---------------------------------------------------------------------------
// Client side

HCONV DdeConnect(DWORD idInst, HSZ hszService, HSZ hszTopic, PCONVCONTEXT pCC) {
    Instance* inst = findInstance(idInst);
    if (inst == nullptr) {
        return 0;
    }
    const std::string* service = inst->strings.text(hszService);
    const std::string* topic = hszTopic != 0 ? inst->strings.text(hszTopic) : nullptr;
    if (service == nullptr || (hszTopic != 0 && topic == nullptr)) {
        inst->setError(DMLERR_INVALIDPARAMETER);
        return 0;
    }
    ThreadContext::Scope scope(*inst->context);
    // Copies: a server on this thread may run callbacks that free the handles.
    const std::string serviceName = *service;
    const std::string topicName = topic != nullptr ? *topic : std::string();
    Conversation* conv = inst->context->connect(inst, serviceName, topicName, pCC);
    if (inst->dead) {
        return 0;
    }
    if (conv == nullptr) {
        inst->setError(DMLERR_NO_CONV_ESTABLISHED);
        return 0;
    }
    return conv->handle;
}

BOOL DdeDisconnect(HCONV hConv) {
    Conversation* conv = findConversation(hConv);
    if (conv == nullptr) {
        return FALSE;
    }
    conv->instance->context->disconnect(conv);
    return TRUE;
}

HDDEDATA DdeClientTransaction(LPBYTE pData, DWORD cbData, HCONV hConv, HSZ hszItem, UINT wFmt,
                              UINT wType, DWORD dwTimeout, LPDWORD pdwResult) {
    Conversation* conv = findConversation(hConv);
    const bool dataHandle = cbData == DDE_DATA_HANDLE;
    ThreadContext* context = ThreadContext::current(false);
    const auto takeOver = [&] {
        if (dataHandle && context != nullptr) {
            context->data().release(HDDEDATA(pData));
        }
    };
    if (conv == nullptr) {
        takeOver();
        return 0;
    }
    Instance* inst = conv->instance;
    const UINT type = wType & ~(XTYPF_ACKREQ | XTYPF_NODATA);
    const bool known = type == XTYP_REQUEST || type == XTYP_POKE || type == XTYP_EXECUTE ||
                       type == XTYP_ADVSTART || type == XTYP_ADVSTOP;
    const std::string* item = hszItem != 0 ? inst->strings.text(hszItem) : nullptr;
    if (!known || (type != XTYP_EXECUTE && item == nullptr)) {
        takeOver();
        inst->setError(DMLERR_INVALIDPARAMETER);
        return 0;
    }
    if (!conv->client || conv->closed()) {
        takeOver();
        inst->setError(conv->client ? DMLERR_NO_CONV_ESTABLISHED : DMLERR_DLL_USAGE);
        return 0;
    }
    const bool sync = dwTimeout != TIMEOUT_ASYNC;
    if (sync && inst->inSyncTransaction) {
        takeOver();
        inst->setError(DMLERR_REENTRANCY);
        return 0;
    }
    const std::uint8_t* bytes = pData;
    std::uint32_t size = cbData;
    if (dataHandle) {
        auto* slot = context->data().find(HDDEDATA(pData));
        if (slot == nullptr) {
            inst->setError(DMLERR_INVALIDPARAMETER);
            return 0;
        }
        bytes = slot->bytes.data();
        size = std::uint32_t(slot->bytes.size());
    } else if (bytes == nullptr) {
        size = 0;
    }
    if (size > orvane::dde::kMaxFrameBytes - 64) {
        takeOver();
        inst->setError(DMLERR_MEMORY_ERROR);
        return 0;
    }

    ThreadContext::Scope scope(*context);
    Transaction t;
    if (++inst->nextTransaction == 0) {
        ++inst->nextTransaction;
    }
    t.id = inst->nextTransaction;
    t.type = type;
    t.flags = wType & (XTYPF_ACKREQ | XTYPF_NODATA);
    t.format = wFmt;
    t.item = hszItem;
    t.sync = sync;
    if (t.item != 0) {
        inst->strings.keep(t.item);
    }

    Frame frame;
    frame.transaction = t.id;
    frame.format = wFmt;
    frame.item = item != nullptr ? std::string_view(*item) : std::string_view();
    switch (type) {
    case XTYP_REQUEST:
        frame.kind = FrameKind::Request;
        break;
    case XTYP_POKE:
        frame.kind = FrameKind::Poke;
        frame.data = bytes;
        frame.dataSize = size;
        break;
    case XTYP_EXECUTE:
        frame.kind = FrameKind::Execute;
        frame.data = bytes;
        frame.dataSize = size;
        break;
    case XTYP_ADVSTART:
        frame.kind = FrameKind::AdviseStart;
        frame.key = hszItem;
        frame.flags = ((wType & XTYPF_ACKREQ) ? orvane::dde::kAdviseAckRequested : 0u) |
                      ((wType & XTYPF_NODATA) ? orvane::dde::kAdviseNoData : 0u);
        break;
    default:
        frame.kind = FrameKind::AdviseStop;
        break;
    }
    // Transactions go out at once: their round trip is what a waiting user feels.
    context->sendNow(conv, frame);
    takeOver();
    conv->pending.push_back(t);

    if (!sync) {
        if (pdwResult != nullptr) {
            *pdwResult = t.id;
        }
        return TRUE;
    }

    // Synchronous: keep this thread's DDE traffic flowing (a server on the
    // same thread must be able to answer) until the answer or the time-out.
    SyncWait wait;
    wait.id = t.id;
    conv->syncWait = &wait;
    inst->inSyncTransaction = true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(dwTimeout);
    while (!wait.done && !inst->dead) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            break;
        }
        context->pump(int(std::min<long long>(left, 1000)));
    }
    inst->inSyncTransaction = false;
    if (conv->syncWait == &wait) {
        conv->syncWait = nullptr;
    }
    if (!wait.done) {
        // A late answer is dropped when it comes.
        for (Transaction& pendingTx : conv->pending) {
            if (pendingTx.id == t.id) {
                pendingTx.abandoned = true;
            }
        }
        if (!inst->dead) {
            inst->setError(timeoutError(type));
        }
        return 0;
    }
    if (pdwResult != nullptr) {
        *pdwResult = wait.error == DMLERR_NO_ERROR ? DWORD(DDE_FACK)
                     : wait.error == DMLERR_BUSY   ? DWORD(DDE_FBUSY)
                                                   : 0;
    }
    if (wait.error != DMLERR_NO_ERROR) {
        if (!inst->dead) {
            inst->setError(wait.error);
        }
        return 0;
    }
    return type == XTYP_REQUEST ? wait.data : HDDEDATA(TRUE);
}

BOOL DdeAbandonTransaction(DWORD idInst, HCONV hConv, DWORD idTransaction) {
    Instance* inst = findInstance(idInst);
    if (inst == nullptr) {
        return FALSE;
    }
    std::vector<Conversation*> targets;
    if (hConv == 0) {
        if (idTransaction != 0) {
            inst->setError(DMLERR_INVALIDPARAMETER);
            return FALSE;
        }
        targets = inst->conversations;
    } else {
        Conversation* conv = findConversation(hConv);
        if (conv == nullptr || conv->instance != inst) {
            inst->setError(DMLERR_INVALIDPARAMETER);
            return FALSE;
        }
        targets.push_back(conv);
    }
    bool found = idTransaction == 0;
    for (Conversation* conv : targets) {
        for (Transaction& t : conv->pending) {
            if (!t.sync && (idTransaction == 0 || t.id == idTransaction)) {
                t.abandoned = true;
                found = true;
            }
        }
    }
    if (!found) {
        inst->setError(DMLERR_UNFOUND_QUEUE_ID);
        return FALSE;
    }
    return TRUE;
}

UINT DdeQueryConvInfo(HCONV hConv, DWORD idTransaction, PCONVINFO pConvInfo) {
    Conversation* conv = findConversation(hConv);
    if (conv == nullptr) {
        return 0;
    }
    Instance* inst = conv->instance;
    if (pConvInfo == nullptr || pConvInfo->cb == 0) {
        inst->setError(DMLERR_INVALIDPARAMETER);
        return 0;
    }
    CONVINFO info;
    info.cb = sizeof(CONVINFO);
    info.hszSvcPartner = conv->service;
    info.hszServiceReq = conv->service;
    info.hszTopic = conv->topic;
    info.wStatus = (conv->closed() ? ST_TERMINATED : ST_CONNECTED) | ST_ISLOCAL |
                   (conv->client ? ST_CLIENT : 0u) |
                   (!conv->clientLinks.empty() || !conv->linkByItem.empty() ? ST_ADVISE : 0u);
    info.wLastError = inst->lastError;
    info.ConvCtxt = conv->context;
    if (idTransaction != QID_SYNC) {
        const Transaction* found = nullptr;
        for (auto it = conv->completing.rbegin(); it != conv->completing.rend(); ++it) {
            if (it->id == idTransaction) {
                found = &*it;
                break;
            }
        }
        if (found == nullptr) {
            for (const Transaction& t : conv->pending) {
                if (t.id == idTransaction) {
                    found = &t;
                    break;
                }
            }
        }
        if (found == nullptr) {
            inst->setError(DMLERR_UNFOUND_QUEUE_ID);
            return 0;
        }
        info.hszItem = found->item;
        info.wFmt = found->format;
        info.wType = found->type;
    }
    const std::size_t n = std::min<std::size_t>(pConvInfo->cb, sizeof(CONVINFO));
    info.cb = DWORD(n);
    std::memcpy(static_cast<void*>(pConvInfo), &info, n);
    return UINT(n);
}
