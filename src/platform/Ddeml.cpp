// The DDEML functions of ddeml.h on top of the per-thread engine: instances,
// string and data handles, and the server side (the client side is in
// DdemlClient.cpp).

#include "platform/ddeml.h"
#include "platform/DdeEngine.h"
#include "platform/DdeRuntime.h"

#include <algorithm>
#include <chrono>
#include <cstring>

using orvane::dde::findInstance;
using orvane::dde::Instance;
using orvane::dde::ThreadContext;

UINT DdeInitialize(DWORD* pidInst, PFNCALLBACK pfnCallback, DWORD afCmd, DWORD /*ulRes*/) {
    if (pidInst == nullptr || pfnCallback == nullptr) {
        return DMLERR_INVALIDPARAMETER;
    }
    ThreadContext* context = ThreadContext::current(true);
    if (*pidInst != 0) {
        // Re-initialising an instance changes its callback and flags.
        Instance* inst = context->instance(*pidInst);
        if (inst == nullptr) {
            return DMLERR_INVALIDPARAMETER;
        }
        inst->callback = pfnCallback;
        inst->flags = afCmd;
        return DMLERR_NO_ERROR;
    }
    std::string dir = orvane::dde::runtimeDirPath();
    std::string error;
    if (!orvane::dde::prepareRuntimeDir(dir, error)) {
        qCWarning(lcDdeml) << "DDE run-time folder refused:" << error.c_str();
        return DMLERR_SYS_ERROR;
    }
    *pidInst = context->addInstance(pfnCallback, afCmd, std::move(dir))->id;
    return DMLERR_NO_ERROR;
}

BOOL DdeUninitialize(DWORD idInst) {
    Instance* inst = findInstance(idInst);
    if (inst == nullptr) {
        return FALSE;
    }
    inst->context->uninitialize(inst);
    return TRUE;
}

UINT DdeGetLastError(DWORD idInst) {
    Instance* inst = findInstance(idInst);
    if (inst == nullptr) {
        return DMLERR_INVALIDPARAMETER; // no instance of that id to keep an error
    }
    const UINT error = inst->lastError;
    inst->lastError = DMLERR_NO_ERROR;
    return error;
}

// ---------------------------------------------------------------------------
// String handles

HSZ DdeCreateStringHandle(DWORD idInst, const char* psz, int /*iCodePage*/) {
    Instance* inst = findInstance(idInst);
    if (inst == nullptr) {
        return 0;
    }
    if (psz == nullptr) {
        inst->setError(DMLERR_INVALIDPARAMETER);
        return 0;
    }
    const std::size_t length = std::strlen(psz);
    if (length == 0) {
        return 0;
    }
    if (length > orvane::dde::kMaxNameBytes) {
        inst->setError(DMLERR_INVALIDPARAMETER);
        return 0;
    }
    return inst->strings.create(std::string_view(psz, length));
}

BOOL DdeFreeStringHandle(DWORD idInst, HSZ hsz) {
    Instance* inst = findInstance(idInst);
    return inst != nullptr && inst->strings.release(hsz) ? TRUE : FALSE;
}

BOOL DdeKeepStringHandle(DWORD idInst, HSZ hsz) {
    Instance* inst = findInstance(idInst);
    return inst != nullptr && inst->strings.keep(hsz) ? TRUE : FALSE;
}

DWORD DdeQueryString(DWORD idInst, HSZ hsz, char* psz, DWORD cchMax, int /*iCodePage*/) {
    Instance* inst = findInstance(idInst);
    if (inst == nullptr) {
        return 0;
    }
    const std::string* text = inst->strings.text(hsz);
    if (text == nullptr) {
        inst->setError(DMLERR_INVALIDPARAMETER);
        return 0;
    }
    if (psz == nullptr) {
        return DWORD(text->size());
    }
    if (cchMax == 0) {
        return 0;
    }
    const std::size_t n = std::min<std::size_t>(text->size(), cchMax - 1);
    std::memcpy(psz, text->data(), n);
    psz[n] = '\0';
    return DWORD(n);
}

int DdeCmpStringHandles(HSZ hsz1, HSZ hsz2) {
    if (hsz1 == hsz2) {
        return 0;
    }
    const std::string* text1 = nullptr;
    const std::string* text2 = nullptr;
    if (ThreadContext* context = ThreadContext::current(false); context != nullptr) {
        for (Instance* inst : context->instances()) {
            if (text1 == nullptr) {
                text1 = inst->strings.text(hsz1);
            }
            if (text2 == nullptr) {
                text2 = inst->strings.text(hsz2);
            }
        }
    }
    if (text1 != nullptr && text2 != nullptr) {
        const std::string upper1 = orvane::dde::upperCased(*text1);
        const std::string upper2 = orvane::dde::upperCased(*text2);
        const int c = upper1.compare(upper2);
        return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    return hsz1 < hsz2 ? -1 : 1;
}

// ---------------------------------------------------------------------------
// Data handles

HDDEDATA DdeCreateDataHandle(DWORD idInst, const BYTE* pSrc, DWORD cb, DWORD cbOff, HSZ hszItem,
                             UINT wFmt, UINT afCmd) {
    Instance* inst = findInstance(idInst);
    if (inst == nullptr) {
        return 0;
    }
    if (cb > orvane::dde::kMaxFrameBytes) {
        inst->setError(DMLERR_MEMORY_ERROR);
        return 0;
    }
    return inst->context->data().create(inst->id, pSrc != nullptr ? pSrc + cbOff : nullptr, cb,
                                        wFmt, hszItem, (afCmd & HDATA_APPOWNED) != 0);
}

HDDEDATA DdeAddData(HDDEDATA hData, const BYTE* pSrc, DWORD cb, DWORD cbOff) {
    ThreadContext* context = ThreadContext::current(false);
    auto* slot = context != nullptr ? context->data().find(hData) : nullptr;
    if (slot == nullptr || pSrc == nullptr ||
        std::uint64_t(cbOff) + cb > orvane::dde::kMaxFrameBytes) {
        return 0;
    }
    if (slot->bytes.size() < std::size_t(cbOff) + cb) {
        slot->bytes.resize(std::size_t(cbOff) + cb);
    }
    if (cb != 0) {
        std::memcpy(slot->bytes.data() + cbOff, pSrc, cb);
    }
    return hData;
}

LPBYTE DdeAccessData(HDDEDATA hData, LPDWORD pcbDataSize) {
    ThreadContext* context = ThreadContext::current(false);
    auto* slot = context != nullptr ? context->data().find(hData) : nullptr;
    if (slot == nullptr) {
        return nullptr;
    }
    if (pcbDataSize != nullptr) {
        *pcbDataSize = DWORD(slot->bytes.size());
    }
    // A pointer even for an empty block, so that success is never mistaken for failure.
    static BYTE empty = 0;
    return slot->bytes.empty() ? &empty : slot->bytes.data();
}

BOOL DdeUnaccessData(HDDEDATA hData) {
    ThreadContext* context = ThreadContext::current(false);
    return context != nullptr && context->data().find(hData) != nullptr ? TRUE : FALSE;
}

DWORD DdeGetData(HDDEDATA hData, LPBYTE pDst, DWORD cbMax, DWORD cbOff) {
    ThreadContext* context = ThreadContext::current(false);
    auto* slot = context != nullptr ? context->data().find(hData) : nullptr;
    if (slot == nullptr) {
        return 0;
    }
    const std::size_t size = slot->bytes.size();
    if (pDst == nullptr) {
        return DWORD(size);
    }
    if (cbOff >= size) {
        return 0;
    }
    const std::size_t n = std::min<std::size_t>(cbMax, size - cbOff);
    std::memcpy(pDst, slot->bytes.data() + cbOff, n);
    return DWORD(n);
}

BOOL DdeFreeDataHandle(HDDEDATA hData) {
    ThreadContext* context = ThreadContext::current(false);
    return context != nullptr && context->data().free(hData) ? TRUE : FALSE;
}

// ---------------------------------------------------------------------------
// Server side

HDDEDATA DdeNameService(DWORD idInst, HSZ hsz1, HSZ /*hsz2*/, UINT afCmd) {
    Instance* inst = findInstance(idInst);
    if (inst == nullptr) {
        return 0;
    }
    if (inst->flags & APPCMD_CLIENTONLY) {
        inst->setError(DMLERR_DLL_USAGE);
        return 0;
    }
    ThreadContext::Scope scope(*inst->context);
    ThreadContext* context = inst->context;
    const DWORD id = inst->id;
    if (afCmd & DNS_REGISTER) {
        if (!context->registerService(inst, hsz1)) {
            return 0;
        }
        context->announce(XTYP_REGISTER, *inst->strings.text(hsz1), id);
        return HDDEDATA(TRUE);
    }
    if (afCmd & DNS_UNREGISTER) {
        bool found = false;
        for (auto* service : std::vector(inst->services)) {
            if (inst->dead || service->closed) {
                continue; // a callback of the announcement ended it already
            }
            if (hsz1 == 0 || service->name == hsz1) {
                const std::string name = *inst->strings.text(service->name);
                context->unregisterService(service);
                context->announce(XTYP_UNREGISTER, name, id);
                found = true;
            }
        }
        if (!found) {
            inst->setError(DMLERR_INVALIDPARAMETER);
            return 0;
        }
        return HDDEDATA(TRUE);
    }
    // Filtering of connections is not needed: every connection names its service.
    return HDDEDATA(TRUE);
}

BOOL DdePostAdvise(DWORD idInst, HSZ hszTopic, HSZ hszItem) {
    Instance* inst = findInstance(idInst);
    if (inst == nullptr) {
        return FALSE;
    }
    if (inst->flags & APPCMD_CLIENTONLY) {
        inst->setError(DMLERR_DLL_USAGE);
        return FALSE;
    }
    ThreadContext::Scope scope(*inst->context);
    inst->context->postAdvise(inst, hszTopic, hszItem);
    return TRUE;
}
