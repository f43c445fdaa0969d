#include "ddelink/KIDdeMgr.h"

#include <cstring>
#include <exception>
#include <memory>

#include "ddelink/DdeError.h"
#include "ddelink/DdeLinkLog.h"
#include "ddelink/KIDdeClientConv.h"
#include "platform/DialogService.h"
#include "platform/Exception.h"
#include "platform/TextCodec.h"

namespace orvane {

namespace {

TKIDdeMgr* g_alive = nullptr;   // the manager whose callback is registered
TKIDdeMgr* g_current = nullptr; // the instance conversations use

} // namespace

QString TKIDdeMgr::OperationName(UINT type) {
    switch (type & ~(XTYPF_ACKREQ | XTYPF_NODATA)) {
    case XTYP_REQUEST:
        return QStringLiteral("Request");
    case XTYP_POKE:
        return QStringLiteral("Poke");
    case XTYP_EXECUTE:
        return QStringLiteral("Execute");
    case XTYP_ADVSTART:
        return QStringLiteral("Start Advise");
    case XTYP_ADVSTOP:
        return QStringLiteral("Stop Advise");
    default:
        return QStringLiteral("?");
    }
}

namespace {

void ShowErrorBox(const QString& text) {
    qCWarning(lcDdeLink).noquote() << text;
    showError(text);
}

// Copies a data block into a zero-terminated buffer: small blocks on the
// stack (advise floods), large ones on the heap. Two zeros follow the data: a
// raw reply is handed over without its length, and its reader walks the text
// after the first zero, which for a block without any zero of its own is the
// byte after the terminator.
class DataCopy {
public:
    DataCopy(const BYTE* data, DWORD size, bool stopAtZero) {
        std::size_t length = size;
        if (stopAtZero) {
            const void* zero = std::memchr(data, 0, size);
            if (zero != nullptr) {
                length = static_cast<std::size_t>(static_cast<const BYTE*>(zero) - data);
            }
        }
        char* target = m_small;
        if (length + 2 > sizeof m_small) {
            m_large = std::make_unique<char[]>(length + 2);
            target = m_large.get();
        }
        if (length > 0) {
            std::memcpy(target, data, length);
        }
        target[length] = '\0';
        target[length + 1] = '\0';
        m_data = target;
    }
    const char* data() const { return m_data; }

private:
    char m_small[256];
    std::unique_ptr<char[]> m_large;
    const char* m_data = nullptr;
};

} // namespace

TKIDdeMgr::TKIDdeMgr() {
    if (g_alive != nullptr) {
        qCWarning(lcDdeLink) << "a second DDE instance replaces the live one";
    }
    g_alive = this;
    if (DdeInitialize(&m_instance, &TKIDdeMgr::DdeCallback, APPCMD_CLIENTONLY, 0) !=
        DMLERR_NO_ERROR) {
        g_alive = nullptr;
        throw Exception(QStringLiteral("Error initializing conversation"));
    }
    if (g_current == nullptr) {
        g_current = this;
    }
}

TKIDdeMgr::~TKIDdeMgr() {
    if (g_alive == this) {
        g_alive = nullptr;
    }
    if (g_current == this) {
        g_current = nullptr;
    }
    // Conversations should be gone by now; those left forget this instance
    // rather than reach a dead one later.
    for (auto it = m_conversations.First(); it->IsValid(); it->Next()) {
        auto* conversation = it->CurrentAs<TKIDdeClientConv>();
        qCWarning(lcDdeLink) << "conversation" << conversation->TopicName()
                             << "outlives the DDE instance";
        conversation->m_tableManager = nullptr;
        conversation->m_tableHandle = 0;
        conversation->m_conversation = 0;
        conversation->m_instance = 0;
        conversation->m_serviceHandle = 0;
        conversation->m_topicHandle = 0;
        conversation->m_adviseHandles.clear();
    }
    m_conversations.Clear();
    m_lastConversation = nullptr;
    DdeUninitialize(m_instance);
}

TKIDdeMgr* TKIDdeMgr::Current() {
    return g_current;
}
void TKIDdeMgr::SetCurrent(TKIDdeMgr* manager) {
    g_current = manager;
}
bool TKIDdeMgr::IsAlive() {
    return g_alive != nullptr;
}

TKIDdeClientConv* TKIDdeMgr::FindConversation(HCONV conversation) const {
    if (conversation != m_lastHandle || m_lastConversation == nullptr) {
        m_lastConversation =
            m_conversations.FindAs<TKIDdeClientConv>(static_cast<std::int32_t>(conversation));
        m_lastHandle = conversation;
    }
    return m_lastConversation;
}

void TKIDdeMgr::AddConversation(HCONV handle, TKIDdeClientConv* conversation) {
    m_conversations.Add(static_cast<std::int32_t>(handle), conversation);
    m_lastConversation = nullptr;
}

void TKIDdeMgr::RemoveConversation(HCONV handle, TKIDdeClientConv* conversation) {
    if (FindConversation(handle) == conversation) {
        m_conversations.Remove(static_cast<std::int32_t>(handle));
    }
    m_lastConversation = nullptr;
}

QString TKIDdeMgr::LastErrorText() const {
    return DdeErrorText(DdeGetLastError(m_instance));
}

void TKIDdeMgr::FireDisconnect() {
    m_onDisconnect(this);
}

QString TKIDdeMgr::ItemName(HSZ item) const {
    if (item == 0) {
        return QString();
    }
    char buffer[kItemNameReportChars + 1] = {};
    const DWORD length = DdeQueryString(m_instance, item, buffer, sizeof buffer, CP_WINANSI);
    return fromWindows1252(buffer, static_cast<qsizetype>(length));
}

HDDEDATA TKIDdeMgr::DdeCallback(UINT type, UINT format, HCONV conversation, HSZ /*hsz1*/, HSZ hsz2,
                                HDDEDATA data, ULONG_PTR data1, ULONG_PTR /*data2*/) {
    if (conversation == 0 || g_alive == nullptr) {
        return 0;
    }
    try {
        return g_alive->Dispatch(type, format, conversation, hsz2, data, static_cast<DWORD>(data1));
    } catch (const std::exception& e) {
        // Nothing may escape into the library's dispatch (or the event loop).
        qCWarning(lcDdeLink) << "DDE callback failed:" << e.what();
    } catch (...) {
        qCWarning(lcDdeLink) << "DDE callback failed";
    }
    return type == XTYP_ADVDATA ? 0 : DDE_FACK;
}

HDDEDATA TKIDdeMgr::Dispatch(UINT type, UINT format, HCONV handle, HSZ item, HDDEDATA data,
                             DWORD transaction) {
    TKIDdeClientConv* conversation = FindConversation(handle);
    if (conversation == nullptr) {
        return DDE_FACK;
    }
    switch (type) {
    case XTYP_ADVDATA:
        return DeliverAdvise(conversation, item, data);
    case XTYP_XACT_COMPLETE: {
        CONVINFO info;
        info.cb = sizeof info;
        UINT completed = 0;
        if (DdeQueryConvInfo(handle, transaction, &info) != 0) {
            completed = info.wType;
        }
        CompleteTransaction(handle, completed, format, transaction, data, item);
        return DDE_FACK;
    }
    case XTYP_DISCONNECT:
        PartnerDisconnected(handle);
        return DDE_FACK;
    default:
        return DDE_FACK;
    }
}

HDDEDATA TKIDdeMgr::DeliverAdvise(TKIDdeClientConv* conversation, HSZ item, HDDEDATA data) {
    try {
        DWORD size = 0;
        const BYTE* block = data != 0 ? DdeAccessData(data, &size) : nullptr;
        if (block == nullptr) {
            conversation->m_advise.Fire(item, nullptr,
                                        std::make_unique<EDdeError>(LastErrorText()));
            return DDE_FACK;
        }
        const DataCopy copy(block, size, false);
        DdeUnaccessData(data);
        conversation->m_advise.Fire(item, copy.data(), nullptr);
        return DDE_FACK;
    } catch (const std::exception& e) {
        qCDebug(lcDdeLink) << "advise subscriber failed:" << e.what();
    } catch (...) {
        qCDebug(lcDdeLink) << "advise subscriber failed";
    }
    return 0;
}

void TKIDdeMgr::ReportFailure(const QString& operation, const QString& topic, const QString& item) {
    if (m_onDdeError) {
        m_onDdeError(operation, topic, item);
    } else {
        ShowErrorBox(QStringLiteral("DDE Error: %1 on %2: %3 failed; verify item name.")
                         .arg(operation, topic, item));
    }
}

void TKIDdeMgr::CompleteTransaction(HCONV handle, UINT type, UINT format, DWORD transaction,
                                    HDDEDATA data, HSZ item) {
    TKIDdeClientConv* conversation = FindConversation(handle);
    if ((type & ~(XTYPF_ACKREQ | XTYPF_NODATA)) == XTYP_ADVSTART) {
        conversation->AdviseStartAnswered(transaction);
    }
    if (data == 0) {
        // Read at once: the report below may run the event loop.
        const QString errorText = LastErrorText();
        const QString itemName = ItemName(item);
        const QString topic = conversation->TopicName();
        qCDebug(lcDdeLink) << OperationName(type) << "on" << topic << ":" << itemName
                           << "failed:" << errorText;
        TKIDdeMgr* self = this;
        ReportFailure(OperationName(type), topic, itemName);
        // A message box runs the event loop: the instance or the conversation
        // may be gone now.
        if (g_alive != self || FindConversation(handle) != conversation) {
            return;
        }
        if ((type & ~(XTYPF_ACKREQ | XTYPF_NODATA)) == XTYP_ADVSTART) {
            // A refused link delivers nothing: its subscriber goes, so that a
            // later start of the same item is not a second subscriber.
            conversation->ForgetAdvise(item);
        }
        if (conversation->m_pending.Contains(transaction)) {
            conversation->m_pending.Fire(transaction, nullptr,
                                         std::make_unique<EDdeError>(errorText));
        }
        return;
    }
    if ((type & ~XTYPF_NODATA) != XTYP_REQUEST) {
        conversation->m_pending.Fire(transaction, nullptr, nullptr);
        return;
    }
    if (format != CF_TEXT && format != CF_PRIVATEFIRST) {
        const QString text = QStringLiteral("DDE Error: Unknown format %1: %2")
                                 .arg(conversation->TopicName(), ItemName(item));
        TKIDdeMgr* self = this;
        ShowErrorBox(text);
        // The reply has come and cannot be used: the caller hears it now
        // rather than wait for its time-out.
        if (g_alive == self && FindConversation(handle) == conversation) {
            conversation->m_pending.Fire(transaction, nullptr, std::make_unique<EDdeError>(text));
        }
        return;
    }
    DWORD size = 0;
    const BYTE* block = DdeAccessData(data, &size);
    if (block == nullptr) {
        conversation->m_pending.Fire(transaction, nullptr,
                                     std::make_unique<EDdeError>(LastErrorText()));
        return;
    }
    const DataCopy copy(block, size, format == CF_TEXT);
    DdeUnaccessData(data);
    conversation->m_pending.Fire(transaction, copy.data(), nullptr);
}

void TKIDdeMgr::PartnerDisconnected(HCONV handle) {
    qCInfo(lcDdeLink) << "partner ended conversation" << handle;
    TKIDdeMgr* self = this;
    FireDisconnect();
    if (g_alive != self) {
        return;
    }
    if (TKIDdeClientConv* conversation = FindConversation(handle)) {
        conversation->MarkDisconnected();
    }
}

} // namespace orvane
