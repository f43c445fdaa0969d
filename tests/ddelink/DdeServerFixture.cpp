#include "DdeServerFixture.h"

namespace orvane::test {

namespace {
InProcessServer* g_server = nullptr;
}

InProcessServer::InProcessServer(const QString& service, const QStringList& topics)
    : m_topics(topics) {
    g_server = this;
    if (DdeInitialize(&m_instance, &InProcessServer::callback, APPCLASS_STANDARD, 0) !=
        DMLERR_NO_ERROR) {
        m_instance = 0;
        return;
    }
    m_service = DdeCreateStringHandle(m_instance, service.toLatin1().constData(), CP_WINANSI);
    if (DdeNameService(m_instance, m_service, 0, DNS_REGISTER) == 0) {
        DdeFreeStringHandle(m_instance, m_service);
        m_service = 0;
    }
}

InProcessServer::~InProcessServer() {
    if (m_instance != 0) {
        if (m_service != 0) {
            DdeNameService(m_instance, m_service, 0, DNS_UNREGISTER);
            DdeFreeStringHandle(m_instance, m_service);
        }
        DdeUninitialize(m_instance);
    }
    if (g_server == this) {
        g_server = nullptr;
    }
}

void InProcessServer::setText(const QString& item, const QByteArray& text) {
    m_items[item.toUpper()] = Item{text + '\0', CF_TEXT, false};
}

void InProcessServer::setRaw(const QString& item, const QByteArray& bytes, UINT format) {
    m_items[item.toUpper()] = Item{bytes, format, false};
}

void InProcessServer::setFailing(const QString& item) {
    m_items[item.toUpper()].fail = true;
}

void InProcessServer::postText(const QString& topic, const QString& item, const QByteArray& text) {
    setText(item, text);
    const HSZ t = DdeCreateStringHandle(m_instance, topic.toLatin1().constData(), CP_WINANSI);
    const HSZ i = DdeCreateStringHandle(m_instance, item.toLatin1().constData(), CP_WINANSI);
    DdePostAdvise(m_instance, t, i);
    DdeFreeStringHandle(m_instance, t);
    DdeFreeStringHandle(m_instance, i);
}

void InProcessServer::disconnectAll() {
    const auto conversations = m_conversations;
    m_conversations.clear();
    for (HCONV c : conversations) {
        DdeDisconnect(c);
    }
}

QString InProcessServer::text(HSZ hsz) const {
    char buffer[256] = {};
    DdeQueryString(m_instance, hsz, buffer, sizeof buffer, CP_WINANSI);
    return QString::fromLatin1(buffer);
}

HDDEDATA InProcessServer::reply(HSZ item, UINT format) {
    const auto it = m_items.find(text(item).toUpper());
    if (it == m_items.end() || it->second.fail) {
        return 0;
    }
    (void)format; // a server may answer in another format than asked
    const Item& value = it->second;
    return DdeCreateDataHandle(m_instance, reinterpret_cast<const BYTE*>(value.data.constData()),
                               static_cast<DWORD>(value.data.size()), 0, item, value.format, 0);
}

HDDEDATA InProcessServer::callback(UINT type, UINT format, HCONV conv, HSZ hsz1, HSZ hsz2,
                                   HDDEDATA data, ULONG_PTR, ULONG_PTR) {
    return g_server != nullptr ? g_server->handle(type, format, conv, hsz1, hsz2, data) : 0;
}

HDDEDATA InProcessServer::handle(UINT type, UINT format, HCONV conv, HSZ hsz1, HSZ hsz2,
                                 HDDEDATA data) {
    switch (type) {
    case XTYP_CONNECT:
        return m_topics.contains(text(hsz1), Qt::CaseInsensitive) ? TRUE : FALSE;
    case XTYP_CONNECT_CONFIRM:
        m_conversations.insert(conv);
        return 0;
    case XTYP_DISCONNECT:
        m_conversations.erase(conv);
        return 0;
    case XTYP_REQUEST:
        return reply(hsz2, format);
    case XTYP_ADVREQ:
        ++m_adviseRequests;
        return reply(hsz2, format);
    case XTYP_ADVSTART: {
        const auto it = m_items.find(text(hsz2).toUpper());
        m_adviseStarts << text(hsz2);
        return it != m_items.end() && !it->second.fail ? TRUE : FALSE;
    }
    case XTYP_ADVSTOP:
        m_adviseStops << text(hsz2);
        return 0;
    case XTYP_POKE: {
        const auto it = m_items.find(text(hsz2).toUpper());
        if (it != m_items.end() && it->second.fail) {
            return DDE_FNOTPROCESSED;
        }
        DWORD size = 0;
        const BYTE* bytes = DdeAccessData(data, &size);
        m_pokes << text(hsz2) + QLatin1Char('=') +
                       QString::fromLatin1(reinterpret_cast<const char*>(bytes),
                                           qstrnlen(reinterpret_cast<const char*>(bytes), size));
        DdeUnaccessData(data);
        return DDE_FACK;
    }
    case XTYP_EXECUTE: {
        if (m_failExecute) {
            return DDE_FNOTPROCESSED;
        }
        DWORD size = 0;
        const BYTE* bytes = DdeAccessData(data, &size);
        m_executes << QString::fromLatin1(reinterpret_cast<const char*>(bytes),
                                          qstrnlen(reinterpret_cast<const char*>(bytes), size));
        DdeUnaccessData(data);
        return DDE_FACK;
    }
    default:
        return 0;
    }
}

} // namespace orvane::test
