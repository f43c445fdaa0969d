#include "DdeTestClient.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

#include "Wait.h"
#include "platform/TextCodec.h"

namespace orvane::test {

namespace {
DdeTestClient* g_client = nullptr;
constexpr int kWakeIntervalMs = 10;
} // namespace

bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
    return WaitUntil(condition, timeoutMs);
}

DdeTestClient::DdeTestClient() {
    if (DdeInitialize(&m_inst, &DdeTestClient::callback, APPCMD_CLIENTONLY, 0) != DMLERR_NO_ERROR) {
        m_inst = 0;
        return;
    }
    g_client = this;
}

DdeTestClient::~DdeTestClient() {
    if (m_inst) {
        DdeUninitialize(m_inst);
    }
    if (g_client == this) {
        g_client = nullptr;
    }
}

HSZ DdeTestClient::handle(const QString& text) {
    const HSZ hsz = DdeCreateStringHandle(m_inst, toWindows1252(text).constData(), CP_WINANSI);
    m_handles.push_back(hsz);
    return hsz;
}

HDDEDATA DdeTestClient::callback(UINT type, UINT, HCONV conv, HSZ, HSZ item, HDDEDATA data,
                                 ULONG_PTR, ULONG_PTR) {
    DdeTestClient* self = g_client;
    if (!self) {
        return 0;
    }
    if (type == XTYP_ADVDATA) {
        char name[300] = {};
        DdeQueryString(self->m_inst, item, name, sizeof name, CP_WINANSI);
        DWORD size = 0;
        const BYTE* bytes = DdeAccessData(data, &size);
        QByteArray value(reinterpret_cast<const char*>(bytes), static_cast<qsizetype>(size));
        DdeUnaccessData(data);
        const qsizetype zero = value.indexOf('\0');
        if (zero >= 0) {
            value.truncate(zero);
        }
        self->m_pushes.emplace_back(QString::fromLatin1(name).toUpper(), fromWindows1252(value));
        return DDE_FACK;
    }
    if (type == XTYP_DISCONNECT) {
        self->m_disconnected.insert(conv);
    }
    return 0;
}

HCONV DdeTestClient::connect(const char* service, const char* topic) {
    const HCONV conv = DdeConnect(m_inst, handle(QString::fromLatin1(service)),
                                  handle(QString::fromLatin1(topic)), nullptr);
    if (!conv) {
        m_lastError = DdeGetLastError(m_inst);
    }
    return conv;
}

void DdeTestClient::disconnect(HCONV conv) {
    DdeDisconnect(conv);
}

std::optional<QByteArray> DdeTestClient::request(HCONV conv, const QString& item, UINT format,
                                                 DWORD timeoutMs) {
    DWORD result = 0;
    const HDDEDATA data = DdeClientTransaction(nullptr, 0, conv, handle(item), format, XTYP_REQUEST,
                                               timeoutMs, &result);
    if (!data) {
        m_lastError = DdeGetLastError(m_inst);
        return std::nullopt;
    }
    DWORD size = 0;
    const BYTE* bytes = DdeAccessData(data, &size);
    QByteArray out(reinterpret_cast<const char*>(bytes), static_cast<qsizetype>(size));
    DdeUnaccessData(data);
    DdeFreeDataHandle(data);
    if (format == CF_TEXT && out.endsWith('\0')) {
        out.chop(1);
    }
    return out;
}

std::optional<QString> DdeTestClient::text(HCONV conv, const QString& item, DWORD timeoutMs) {
    const auto bytes = request(conv, item, CF_TEXT, timeoutMs);
    if (!bytes) {
        return std::nullopt;
    }
    return fromWindows1252(*bytes);
}

bool DdeTestClient::poke(HCONV conv, const QString& item, const QByteArray& value,
                         DWORD timeoutMs) {
    QByteArray bytes = value;
    bytes.append('\0');
    DWORD result = 0;
    if (!DdeClientTransaction(reinterpret_cast<LPBYTE>(bytes.data()),
                              static_cast<DWORD>(bytes.size()), conv, handle(item), CF_TEXT,
                              XTYP_POKE, timeoutMs, &result)) {
        m_lastError = DdeGetLastError(m_inst);
        return false;
    }
    return true;
}

bool DdeTestClient::execute(HCONV conv, const QByteArray& command, DWORD timeoutMs) {
    QByteArray bytes = command;
    bytes.append('\0');
    DWORD result = 0;
    if (!DdeClientTransaction(reinterpret_cast<LPBYTE>(bytes.data()),
                              static_cast<DWORD>(bytes.size()), conv, 0, CF_TEXT, XTYP_EXECUTE,
                              timeoutMs, &result)) {
        m_lastError = DdeGetLastError(m_inst);
        return false;
    }
    return true;
}

bool DdeTestClient::startAdvise(HCONV conv, const QString& item) {
    DWORD result = 0;
    if (!DdeClientTransaction(nullptr, 0, conv, handle(item), CF_TEXT, XTYP_ADVSTART,
                              kTransactionTimeoutMs, &result)) {
        m_lastError = DdeGetLastError(m_inst);
        return false;
    }
    return true;
}

bool DdeTestClient::stopAdvise(HCONV conv, const QString& item) {
    DWORD result = 0;
    if (!DdeClientTransaction(nullptr, 0, conv, handle(item), CF_TEXT, XTYP_ADVSTOP,
                              kTransactionTimeoutMs, &result)) {
        m_lastError = DdeGetLastError(m_inst);
        return false;
    }
    return true;
}

QString DdeTestClient::runCommand(HCONV conv, const QString& command, int timeoutMs) {
    QString name = command;
    const qsizetype paren = name.indexOf(QLatin1Char('('));
    if (paren >= 0) {
        name.truncate(paren);
    }
    const QString resultItem = name + QStringLiteral(".Result");
    const size_t before = pushed(resultItem).size();
    if (!execute(conv, toWindows1252(command))) {
        return QString();
    }
    if (!startAdvise(conv, resultItem)) {
        return QString();
    }
    QString code;
    waitUntil(
        [&] {
            const QStringList values = pushed(resultItem);
            for (qsizetype i = static_cast<qsizetype>(before); i < values.size(); ++i) {
                if (!values[i].isEmpty()) {
                    code = values[i];
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    stopAdvise(conv, resultItem);
    return code;
}

QStringList DdeTestClient::pushed(const QString& item) const {
    const QString key = item.toUpper();
    QStringList out;
    for (const auto& [name, value] : m_pushes) {
        if (name == key) {
            out.push_back(value);
        }
    }
    return out;
}

bool DdeTestClient::waitForPushes(const QString& item, int count, int timeoutMs) {
    return waitUntil([&] { return pushed(item).size() >= count; }, timeoutMs);
}

} // namespace orvane::test
