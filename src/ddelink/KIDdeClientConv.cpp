#include "ddelink/KIDdeClientConv.h"

#include <algorithm>

#include "ddelink/DdeError.h"
#include "ddelink/DdeLinkLog.h"
#include "ddelink/KIDdeMgr.h"
#include "platform/TextCodec.h"

namespace orvane {

namespace {

// Conversation context as Windows fills it: size 36, ANSI code page.
constexpr UINT kConvContextSize = 36;

QByteArray ZeroTerminated(QByteArray text) {
    text.append('\0');
    return text;
}

} // namespace

TKIDdeClientConv::TKIDdeClientConv() = default;

TKIDdeClientConv::~TKIDdeClientConv() {
    TKIDdeMgr* manager = m_tableManager != nullptr ? m_tableManager : TKIDdeMgr::Current();
    // Nobody may be called back for a transaction of a conversation that is
    // gone; the library is told to forget each one.
    while (!m_pending.IsEmpty()) {
        const DWORD transaction = m_pending.TakeFirst();
        if (manager != nullptr &&
            !DdeAbandonTransaction(manager->Instance(), m_conversation, transaction)) {
            qCWarning(lcDdeLink) << "abandoning transaction" << transaction << "on" << m_topic
                                 << "failed:" << manager->LastErrorText();
        }
    }
    try {
        Disconnect();
    } catch (const EDdeError& e) {
        qCWarning(lcDdeLink) << "disconnect of" << m_topic << "failed:" << e.message();
    }
    if (m_instance != 0 && TKIDdeMgr::IsAlive()) {
        for (const HSZ handle : m_adviseHandles) {
            DdeFreeStringHandle(m_instance, handle);
        }
    }
    m_adviseHandles.clear();
    ForgetTableEntry();
}

void TKIDdeClientConv::ForgetTableEntry() {
    if (m_tableManager != nullptr) {
        m_tableManager->RemoveConversation(m_tableHandle, this);
    }
    m_tableManager = nullptr;
    m_tableHandle = 0;
}

void TKIDdeClientConv::FreeNameHandles() {
    if (m_instance != 0 && TKIDdeMgr::IsAlive()) {
        if (m_serviceHandle != 0) {
            DdeFreeStringHandle(m_instance, m_serviceHandle);
        }
        if (m_topicHandle != 0) {
            DdeFreeStringHandle(m_instance, m_topicHandle);
        }
    }
    m_serviceHandle = 0;
    m_topicHandle = 0;
}

void TKIDdeClientConv::MarkDisconnected() {
    const bool wasLive = m_conversation != 0;
    m_conversation = 0;
    // Last: the handler may free this conversation.
    if (wasLive && m_onDisconnect) {
        m_onDisconnect(this);
    }
}

bool TKIDdeClientConv::Connect(const QString& service, const QString& topic) {
    Disconnect();
    m_service = service.left(kMaxDdeNameChars);
    m_topic = topic.left(kMaxDdeNameChars);
    TKIDdeMgr* manager = TKIDdeMgr::Current();
    if (manager == nullptr) {
        qCWarning(lcDdeLink) << "no DDE instance to connect" << m_service << m_topic;
        return false;
    }
    const DWORD instance = manager->Instance();
    const HSZ serviceHandle =
        DdeCreateStringHandle(instance, toWindows1252(m_service).constData(), CP_WINANSI);
    if (serviceHandle == 0) {
        throw EDdeError(manager->LastErrorText());
    }
    const HSZ topicHandle =
        DdeCreateStringHandle(instance, toWindows1252(m_topic).constData(), CP_WINANSI);
    if (topicHandle == 0) {
        const QString text = manager->LastErrorText();
        DdeFreeStringHandle(instance, serviceHandle);
        throw EDdeError(text);
    }
    m_instance = instance;
    m_serviceHandle = serviceHandle;
    m_topicHandle = topicHandle;

    CONVCONTEXT context;
    context.cb = kConvContextSize;
    context.iCodePage = CP_WINANSI;
    const HCONV handle = DdeConnect(instance, m_serviceHandle, m_topicHandle, &context);
    if (handle == 0) {
        // Read so that the next failure does not report this one.
        const UINT code = DdeGetLastError(instance);
        qCDebug(lcDdeLink) << "no answer from" << m_service << "/" << m_topic << ":"
                           << DdeErrorText(code);
        return false;
    }
    m_conversation = handle;
    m_tableManager = manager;
    m_tableHandle = handle;
    manager->AddConversation(handle, this);
    qCDebug(lcDdeLink) << "connected" << m_service << "/" << m_topic << "as" << handle;
    m_onConnect(this);
    return true;
}

void TKIDdeClientConv::Disconnect() {
    const HCONV old = m_conversation;
    TKIDdeMgr* manager = m_tableManager;
    ForgetTableEntry();
    QString failure;
    if (old != 0) {
        MarkDisconnected();
        if (!DdeDisconnect(old)) {
            failure = manager != nullptr ? manager->LastErrorText()
                                         : DdeErrorText(DMLERR_DLL_NOT_INITIALIZED);
        }
    }
    FreeNameHandles();
    m_service.clear();
    m_topic.clear();
    if (!failure.isEmpty()) {
        throw EDdeError(failure);
    }
}

TKIDdeMgr* TKIDdeClientConv::ManagerForTransaction() const {
    TKIDdeMgr* manager = m_tableManager;
    if (m_conversation == 0 || manager == nullptr) {
        if (TKIDdeMgr* current = manager != nullptr ? manager : TKIDdeMgr::Current()) {
            current->FireDisconnect();
        }
        return nullptr;
    }
    return manager;
}

HSZ TKIDdeClientConv::CreateItemHandle(TKIDdeMgr* manager, const QByteArray& name) const {
    const HSZ handle = DdeCreateStringHandle(manager->Instance(), name.constData(), CP_WINANSI);
    if (handle == 0) {
        throw EDdeError(manager->LastErrorText());
    }
    return handle;
}

DWORD TKIDdeClientConv::StartTransaction(TKIDdeMgr* manager, const QByteArray& data, bool withData,
                                         HSZ item, UINT format, UINT type, bool itemMadeForCall) {
    DWORD transaction = 0;
    const HDDEDATA ok = DdeClientTransaction(
        withData ? reinterpret_cast<LPBYTE>(const_cast<char*>(data.constData())) : nullptr,
        withData ? static_cast<DWORD>(data.size()) : 0, m_conversation, item, format, type,
        TIMEOUT_ASYNC, &transaction);
    if (ok == 0) {
        const QString text = manager->LastErrorText();
        if (item != 0 && itemMadeForCall) {
            DdeFreeStringHandle(manager->Instance(), item);
        }
        throw EDdeError(text);
    }
    return transaction;
}

DWORD TKIDdeClientConv::AsyncItemTransaction(const QString& item, UINT format, UINT type,
                                             const QByteArray* data,
                                             const TDdeDataEvent& callback) {
    TKIDdeMgr* manager = ManagerForTransaction();
    if (manager == nullptr) {
        return 0;
    }
    const HSZ handle = CreateItemHandle(manager, toWindows1252(item));
    const DWORD transaction = StartTransaction(manager, data ? *data : QByteArray(),
                                               data != nullptr, handle, format, type, true);
    // The library keeps what it needs of the name for the transaction.
    DdeFreeStringHandle(manager->Instance(), handle);
    m_pending.Add(transaction, callback);
    return transaction;
}

DWORD TKIDdeClientConv::Request(const QString& item, const TDdeDataEvent& callback) {
    return AsyncItemTransaction(item, CF_TEXT, XTYP_REQUEST, nullptr, callback);
}

DWORD TKIDdeClientConv::RequestRaw(const QString& item, const TDdeDataEvent& callback) {
    return AsyncItemTransaction(item, CF_PRIVATEFIRST, XTYP_REQUEST, nullptr, callback);
}

void TKIDdeClientConv::Abandon(DWORD transaction) {
    if (transaction == 0 || !m_pending.Remove(transaction)) {
        return;
    }
    TKIDdeMgr* manager = m_tableManager != nullptr ? m_tableManager : TKIDdeMgr::Current();
    if (manager != nullptr && m_conversation != 0 &&
        !DdeAbandonTransaction(manager->Instance(), m_conversation, transaction)) {
        qCDebug(lcDdeLink) << "abandoning transaction" << transaction << "on" << m_topic
                           << "failed:" << manager->LastErrorText();
    }
}

void TKIDdeClientConv::Poke(const QString& item, const QByteArray& value,
                            const TDdeDataEvent& callback) {
    const QByteArray data = ZeroTerminated(value);
    AsyncItemTransaction(item, CF_TEXT, XTYP_POKE, &data, callback);
}

void TKIDdeClientConv::Poke(const QString& item, const QString& value,
                            const TDdeDataEvent& callback) {
    Poke(item, toWindows1252(value), callback);
}

void TKIDdeClientConv::PokeWait(const QString& item, const QByteArray& value) {
    TKIDdeMgr* manager = ManagerForTransaction();
    if (manager == nullptr) {
        return;
    }
    const HSZ handle = CreateItemHandle(manager, toWindows1252(item));
    QByteArray data = ZeroTerminated(value);
    DWORD result = 0;
    const HDDEDATA ok = DdeClientTransaction(
        reinterpret_cast<LPBYTE>(data.data()), static_cast<DWORD>(data.size()), m_conversation,
        handle, CF_TEXT, XTYP_POKE, kPokeWaitTimeoutMs, &result);
    const UINT code = ok == 0 ? DdeGetLastError(manager->Instance()) : DMLERR_NO_ERROR;
    DdeFreeStringHandle(manager->Instance(), handle);
    if (ok == 0) {
        const QString text = DdeErrorText(code);
        if (code == DMLERR_SERVER_DIED || code == DMLERR_NO_CONV_ESTABLISHED) {
            // The partner has gone: the conversation says so at once, not
            // only once the event loop brings the disconnect, so that callers
            // between two waits stop instead of writing into nothing.
            MarkDisconnected();
        }
        throw EDdeError(text);
    }
}

void TKIDdeClientConv::PokeWait(const QString& item, const QString& value) {
    PokeWait(item, toWindows1252(value));
}

DWORD TKIDdeClientConv::Execute(const QString& command, const TDdeDataEvent& callback) {
    return ExecuteBytes(toWindows1252(command), callback);
}

DWORD TKIDdeClientConv::ExecuteBytes(const QByteArray& command, const TDdeDataEvent& callback) {
    TKIDdeMgr* manager = ManagerForTransaction();
    if (manager == nullptr) {
        return 0;
    }
    const DWORD transaction =
        StartTransaction(manager, ZeroTerminated(command), true, 0, CF_TEXT, XTYP_EXECUTE, false);
    m_pending.Add(transaction, callback);
    return transaction;
}

std::int64_t TKIDdeClientConv::StartAdvise(const QString& item, const TDdeDataEvent& callback,
                                           const TDdeDataEvent& started) {
    TKIDdeMgr* manager = ManagerForTransaction();
    if (manager == nullptr) {
        return kNoAdviseKey;
    }
    // Held while the link runs: advise data is routed by this handle.
    const HSZ handle = CreateItemHandle(manager, toWindows1252(item));
    const DWORD transaction =
        StartTransaction(manager, QByteArray(), false, handle, CF_TEXT,
                         XTYP_ADVSTART | (m_ackAdvise ? XTYPF_ACKREQ : 0), true);
    m_adviseHandles.push_back(handle);
    m_advise.Add(handle, callback);
    if (started) {
        m_pending.Add(transaction, started);
        m_adviseStarts.emplace_back(handle, transaction);
    }
    return handle;
}

void TKIDdeClientConv::AdviseStartAnswered(DWORD transaction) {
    std::erase_if(m_adviseStarts, [transaction](const std::pair<HSZ, DWORD>& start) {
        return start.second == transaction;
    });
}

void TKIDdeClientConv::DropAdviseStarts(HSZ item) {
    for (auto it = m_adviseStarts.begin(); it != m_adviseStarts.end();) {
        if (it->first == item) {
            m_pending.Remove(it->second);
            it = m_adviseStarts.erase(it);
        } else {
            ++it;
        }
    }
}

void TKIDdeClientConv::ForgetAdvise(HSZ item) {
    const auto held = std::find(m_adviseHandles.begin(), m_adviseHandles.end(), item);
    if (item == 0 || held == m_adviseHandles.end()) {
        return;
    }
    m_adviseHandles.erase(held);
    m_advise.Remove(item);
    if (m_instance != 0 && TKIDdeMgr::IsAlive()) {
        DdeFreeStringHandle(m_instance, item);
    }
}

void TKIDdeClientConv::StopAdvise(std::int64_t adviseKey) {
    const auto held =
        std::find(m_adviseHandles.begin(), m_adviseHandles.end(), static_cast<HSZ>(adviseKey));
    if (adviseKey <= 0 || held == m_adviseHandles.end()) {
        qCWarning(lcDdeLink) << "StopAdvise of unknown advise key" << adviseKey << "on" << m_topic;
        return;
    }
    const HSZ handle = *held;
    m_adviseHandles.erase(held);
    m_advise.Remove(handle);
    // The subscriber that asked for the link no longer hears of its start.
    DropAdviseStarts(handle);
    const DWORD instance = m_instance;
    // Released however the stop goes; the name is not needed afterwards.
    struct Release {
        DWORD instance;
        HSZ handle;
        ~Release() {
            if (instance != 0 && TKIDdeMgr::IsAlive()) {
                DdeFreeStringHandle(instance, handle);
            }
        }
    } release{instance, handle};
    TKIDdeMgr* manager = ManagerForTransaction();
    if (manager == nullptr) {
        return;
    }
    StartTransaction(manager, QByteArray(), false, handle, CF_TEXT, XTYP_ADVSTOP, false);
}

} // namespace orvane
