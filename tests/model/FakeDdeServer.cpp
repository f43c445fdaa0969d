#include "FakeDdeServer.h"

#include <QTimer>

namespace orvane::test {

namespace {
FakeDdeServer* g_server = nullptr;
}

FakeDdeServer::FakeDdeServer(const QStringList& services) {
    g_server = this;
    if (DdeInitialize(&m_instance, &FakeDdeServer::callback, APPCLASS_STANDARD, 0) !=
        DMLERR_NO_ERROR) {
        m_instance = 0;
        return;
    }
    for (const QString& service : services) {
        const HSZ handle =
            DdeCreateStringHandle(m_instance, service.toLatin1().constData(), CP_WINANSI);
        DdeNameService(m_instance, handle, 0, DNS_REGISTER);
        m_services.push_back(handle);
    }
}

FakeDdeServer::~FakeDdeServer() {
    if (m_instance != 0) {
        for (HSZ service : m_services) {
            DdeNameService(m_instance, service, 0, DNS_UNREGISTER);
            DdeFreeStringHandle(m_instance, service);
        }
        DdeUninitialize(m_instance);
    }
    if (g_server == this) {
        g_server = nullptr;
    }
}

void FakeDdeServer::addTopic(const QString& topic) {
    m_topics.insert(topic.toUpper());
}
void FakeDdeServer::setText(const QString& item, const QByteArray& text) {
    m_texts[item.toUpper()] = text;
}
void FakeDdeServer::setRaw(const QString& item, const QByteArray& raw) {
    m_raws[item.toUpper()] = raw;
}
void FakeDdeServer::failItem(const QString& item) {
    m_failing.insert(item.toUpper());
}

void FakeDdeServer::change(const QString& topic, const QString& item, const QByteArray& text) {
    setText(item, text);
    const HSZ t = DdeCreateStringHandle(m_instance, topic.toLatin1().constData(), CP_WINANSI);
    const HSZ i = DdeCreateStringHandle(m_instance, item.toLatin1().constData(), CP_WINANSI);
    DdePostAdvise(m_instance, t, i);
    DdeFreeStringHandle(m_instance, i);
    DdeFreeStringHandle(m_instance, t);
}

int FakeDdeServer::requests(const QString& item, UINT format) const {
    return m_requests.value(item.toUpper() + QLatin1Char('/') + QString::number(format));
}
int FakeDdeServer::adviseStarts(const QString& item) const {
    return m_adviseStarts.value(item.toUpper());
}
int FakeDdeServer::adviseStops(const QString& item) const {
    return m_adviseStops.value(item.toUpper());
}
QList<QByteArray> FakeDdeServer::pokes(const QString& item) const {
    return m_pokes.value(item.toUpper());
}

QString FakeDdeServer::text(HSZ handle) const {
    char buffer[512];
    const DWORD length = DdeQueryString(m_instance, handle, buffer, sizeof buffer, CP_WINANSI);
    return QString::fromLatin1(buffer, static_cast<qsizetype>(length));
}

HDDEDATA FakeDdeServer::callback(UINT type, UINT format, HCONV, HSZ hsz1, HSZ hsz2, HDDEDATA data,
                                 ULONG_PTR, ULONG_PTR) {
    return g_server ? g_server->handle(type, format, hsz1, hsz2, data) : 0;
}

HDDEDATA FakeDdeServer::reply(HSZ item, UINT format) {
    const QString name = text(item).toUpper();
    if (m_failing.contains(name)) {
        return 0;
    }
    QByteArray bytes;
    if (format == CF_TEXT) {
        if (!m_texts.contains(name)) {
            return 0;
        }
        bytes = m_texts.value(name);
        bytes.append('\0');
    } else {
        if (!m_raws.contains(name)) {
            return 0;
        }
        bytes = m_raws.value(name);
    }
    return DdeCreateDataHandle(m_instance, reinterpret_cast<const BYTE*>(bytes.constData()),
                               static_cast<DWORD>(bytes.size()), 0, item, format, 0);
}

HDDEDATA FakeDdeServer::handle(UINT type, UINT format, HSZ hsz1, HSZ hsz2, HDDEDATA data) {
    switch (type) {
    case XTYP_CONNECT:
        if (m_topics.contains(text(hsz1).toUpper())) {
            ++m_connections;
            return TRUE;
        }
        return FALSE;
    case XTYP_DISCONNECT:
        ++m_disconnects;
        return 0;
    case XTYP_REQUEST: {
        const QString name = text(hsz2).toUpper();
        ++m_requests[name + QLatin1Char('/') + QString::number(format)];
        return reply(hsz2, format);
    }
    case XTYP_ADVSTART: {
        const QString name = text(hsz2).toUpper();
        ++m_adviseStarts[name];
        if (!m_texts.contains(name)) {
            return FALSE;
        }
        // Like the real server: the current value follows the start of a link.
        const QString topic = text(hsz1);
        QTimer::singleShot(0, [this, topic, name] { change(topic, name, m_texts.value(name)); });
        return TRUE;
    }
    case XTYP_ADVREQ:
        return reply(hsz2, format);
    case XTYP_ADVSTOP:
        ++m_adviseStops[text(hsz2).toUpper()];
        return 0;
    case XTYP_POKE: {
        DWORD size = 0;
        const BYTE* bytes = DdeAccessData(data, &size);
        QByteArray value(reinterpret_cast<const char*>(bytes), static_cast<qsizetype>(size));
        DdeUnaccessData(data);
        if (value.endsWith('\0')) {
            value.chop(1);
        }
        m_pokes[text(hsz2).toUpper()].append(value);
        return DDE_FACK;
    }
    default:
        return 0;
    }
}

} // namespace orvane::test
