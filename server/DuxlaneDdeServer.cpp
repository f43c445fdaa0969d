#include "DuxlaneDdeServer.h"

#include <QDateTime>
#include <QEventLoop>
#include <QPointer>
#include <QTimer>

#include "ServerLog.h"
#include "ServerNames.h"
#include "SimControl.h"
#include "SimNetwork.h"
#include "platform/TextCodec.h"

namespace orvane::server {

namespace {

DuxlaneDdeServer* g_server = nullptr;

constexpr DWORD kMaxNameChars = 1024;

qint64 nowMs() {
    return QDateTime::currentMSecsSinceEpoch();
}

} // namespace

DuxlaneDdeServer::DuxlaneDdeServer(SimNetwork* network, const ServerOptions& options,
                                   QObject* parent)
    : QObject(parent), m_network(network), m_options(options) {}

DuxlaneDdeServer::~DuxlaneDdeServer() {
    stop();
}

bool DuxlaneDdeServer::start(QString* error) {
    if (g_server) {
        *error = QStringLiteral("a Duxlane server runs in this process already");
        return false;
    }
    const UINT rc = DdeInitialize(&m_inst, &DuxlaneDdeServer::callback, APPCLASS_STANDARD, 0);
    if (rc != DMLERR_NO_ERROR) {
        *error = QStringLiteral("the DDE library refused to start (error 0x%1)").arg(rc, 0, 16);
        m_inst = 0;
        return false;
    }
    g_server = this;
    m_stopping = false;
    m_hszGeneric = DdeCreateStringHandle(m_inst, names::kGenericService, CP_WINANSI);
    m_hszNetwork = DdeCreateStringHandle(m_inst, names::kNetworkService, CP_WINANSI);
    m_hszSystem = DdeCreateStringHandle(m_inst, names::kSystemTopic, CP_WINANSI);
    m_hszTopics = DdeCreateStringHandle(m_inst, names::kTopicsItem, CP_WINANSI);
    m_hszConversationCount =
        DdeCreateStringHandle(m_inst, names::kConversationCountItem, CP_WINANSI);
    for (const auto& control : m_network->controls()) {
        addControl(control.get());
    }
    connect(m_network, &SimNetwork::controlAdded, this, &DuxlaneDdeServer::addControl);
    for (HSZ service : {m_hszGeneric, m_hszNetwork}) {
        if (!DdeNameService(m_inst, service, 0, DNS_REGISTER)) {
            *error = QStringLiteral("the service %1 cannot be registered (DDE error 0x%2); "
                                    "does another server run?")
                         .arg(text(service))
                         .arg(DdeGetLastError(m_inst), 0, 16);
            stop();
            return false;
        }
    }
    return true;
}

void DuxlaneDdeServer::stop() {
    if (!m_inst) {
        return;
    }
    m_stopping = true;
    for (const Hold& h : m_holds) {
        h.loop->quit();
    }
    disconnect(m_network, nullptr, this, nullptr);
    for (const auto& topic : m_topics) {
        disconnect(topic->control, nullptr, this, nullptr);
    }
    DdeNameService(m_inst, 0, 0, DNS_UNREGISTER);
    DdeUninitialize(m_inst); // ends every conversation and frees every handle
    m_inst = 0;
    m_conversations.clear();
    m_topicOfHsz.clear();
    m_topics.clear();
    m_systemAdvised.clear();
    m_refuseConnects.clear();
    if (g_server == this) {
        g_server = nullptr;
    }
}

QStringList DuxlaneDdeServer::visibleTopics() const {
    QStringList out;
    for (const auto& topic : m_topics) {
        if (isVisible(*topic)) {
            out.push_back(topic->control->topic());
        }
    }
    return out;
}

void DuxlaneDdeServer::addControl(SimControl* control) {
    auto topic = std::make_unique<Topic>();
    topic->control = control;
    topic->hsz = DdeCreateStringHandle(m_inst, control->topic().toLatin1().constData(), CP_WINANSI);
    topic->visibleAtMs = nowMs() + m_options.topicDelayMs;
    topic->adviseCount.assign(static_cast<size_t>(control->slotCount()), 0);
    Topic* raw = topic.get();
    m_topicOfHsz.insert(topic->hsz, raw);
    m_topics.push_back(std::move(topic));
    if (m_options.isDeadControl(control->topic())) {
        control->setStuckOffLine(true);
    }
    connect(control, &SimControl::valueChanged, this,
            [this, raw](int slot) { onValueChanged(raw, slot); });
    if (m_options.topicDelayMs > 0) {
        qCInfo(lcServer).noquote() << "Control" << control->topic() << "becomes a topic in"
                                   << m_options.topicDelayMs << "ms";
        QTimer::singleShot(m_options.topicDelayMs, this,
                           [this] { postSystem(names::kTopicsItem); });
    } else {
        postSystem(names::kTopicsItem);
    }
}

int DuxlaneDdeServer::dropTopics() {
    if (!m_inst) {
        return 0;
    }
    int ended = 0;
    for (const auto& topic : m_topics) {
        const auto drop = m_options.dropTopics.constFind(topic->control->topic().toUpper());
        if (drop == m_options.dropTopics.constEnd()) {
            continue;
        }
        // Armed before any conversation ends, so that a client that reconnects
        // as soon as it hears of the loss is refused.
        m_refuseConnects.insert(topic.get(), *drop);
        QList<HCONV> dropped;
        for (auto it = m_conversations.cbegin(); it != m_conversations.cend(); ++it) {
            if (it->topic == topic.get()) {
                dropped.push_back(it.key());
            }
        }
        for (HCONV conv : dropped) {
            // The library tells only the partner of a disconnect: the
            // server's own books are kept here.
            onDisconnect(conv);
            DdeDisconnect(conv);
            ++ended;
        }
        qCInfo(lcServer).noquote()
            << "Topic" << topic->control->topic() << "dropped (fault injection):" << dropped.size()
            << "conversations ended; the next" << *drop << "connections are refused";
    }
    return ended;
}

int DuxlaneDdeServer::refusedConnectsLeft(const QString& topic) const {
    for (auto it = m_refuseConnects.cbegin(); it != m_refuseConnects.cend(); ++it) {
        if (it.key()->control->topic().compare(topic, Qt::CaseInsensitive) == 0) {
            return it.value();
        }
    }
    return 0;
}

bool DuxlaneDdeServer::isVisible(const Topic& topic) const {
    return nowMs() >= topic.visibleAtMs;
}

DuxlaneDdeServer::Topic* DuxlaneDdeServer::topicOf(HSZ hsz) const {
    // String handles of one instance are equal for texts equal without regard
    // to letter case, so the handle alone finds the topic.
    return m_topicOfHsz.value(hsz, nullptr);
}

int DuxlaneDdeServer::slotOf(Topic* topic, HSZ item) {
    const auto it = topic->slotOfHsz.constFind(item);
    if (it != topic->slotOfHsz.constEnd()) {
        return *it;
    }
    const int slot = topic->control->find(text(item));
    if (slot >= 0 && DdeKeepStringHandle(m_inst, item)) {
        // Kept, so that the handle keeps naming this text while it is cached.
        topic->slotOfHsz.insert(item, slot);
        topic->hszOfSlot.insert(slot, item);
    }
    return slot;
}

QString DuxlaneDdeServer::text(HSZ hsz) const {
    char buffer[kMaxNameChars + 1];
    const DWORD n = DdeQueryString(m_inst, hsz, buffer, sizeof buffer, CP_WINANSI);
    return orvane::fromWindows1252(buffer, static_cast<qsizetype>(n));
}

HDDEDATA DuxlaneDdeServer::makeBytes(const QByteArray& bytes, HSZ item, UINT fmt) {
    return DdeCreateDataHandle(m_inst, reinterpret_cast<const BYTE*>(bytes.constData()),
                               static_cast<DWORD>(bytes.size()), 0, item, fmt, 0);
}

HDDEDATA DuxlaneDdeServer::makeText(const QString& value, HSZ item, UINT fmt) {
    QByteArray bytes = orvane::toWindows1252(value);
    bytes.append('\0');
    return makeBytes(bytes, item, fmt);
}

bool DuxlaneDdeServer::readData(HDDEDATA data, DWORD limit, QByteArray* out, QString* why) const {
    if (!data) {
        *why = QStringLiteral("no data came with the transaction");
        return false;
    }
    const DWORD size = DdeGetData(data, nullptr, 0, 0);
    if (size > limit) {
        *why = QStringLiteral("%1 bytes are more than the %2 taken").arg(size).arg(limit);
        return false;
    }
    out->resize(static_cast<qsizetype>(size));
    if (size && DdeGetData(data, reinterpret_cast<LPBYTE>(out->data()), size, 0) != size) {
        *why = QStringLiteral("the data could not be read");
        return false;
    }
    const qsizetype zero = out->indexOf('\0');
    if (zero >= 0) {
        out->truncate(zero);
    }
    return true;
}

bool DuxlaneDdeServer::hold(HCONV conv, int ms) {
    QEventLoop loop;
    QTimer timer;
    if (ms >= 0) {
        timer.setSingleShot(true);
        connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        timer.start(ms);
    }
    m_holds.push_back({conv, &loop});
    QPointer<DuxlaneDdeServer> self(this);
    loop.exec();
    if (!self) {
        return false;
    }
    for (auto it = m_holds.begin(); it != m_holds.end(); ++it) {
        if (it->loop == &loop) {
            m_holds.erase(it);
            break;
        }
    }
    return !m_stopping && m_conversations.contains(conv);
}

void DuxlaneDdeServer::releaseHolds(HCONV conv) {
    for (const Hold& h : m_holds) {
        if (h.conv == conv) {
            h.loop->quit();
        }
    }
}

HDDEDATA DuxlaneDdeServer::callback(UINT type, UINT fmt, HCONV conv, HSZ hsz1, HSZ hsz2,
                                    HDDEDATA data, ULONG_PTR, ULONG_PTR) {
    if (!g_server) {
        return 0;
    }
    return g_server->handle(type, fmt, conv, hsz1, hsz2, data);
}

HDDEDATA DuxlaneDdeServer::handle(UINT type, UINT fmt, HCONV conv, HSZ hsz1, HSZ hsz2,
                                  HDDEDATA data) {
    if (m_stopping) {
        return 0;
    }
    switch (type) {
    case XTYP_CONNECT:
        return onConnect(hsz1, hsz2);
    case XTYP_CONNECT_CONFIRM:
        onConnectConfirm(conv, hsz1, hsz2);
        return 0;
    case XTYP_DISCONNECT:
        onDisconnect(conv);
        return 0;
    case XTYP_REQUEST:
        return onRequest(conv, hsz1, hsz2, fmt);
    case XTYP_POKE:
        return onPoke(conv, hsz1, hsz2, fmt, data);
    case XTYP_EXECUTE:
        return onExecute(conv, hsz1, data);
    case XTYP_ADVSTART:
        return onAdviseStart(conv, hsz1, hsz2, fmt);
    case XTYP_ADVSTOP:
        onAdviseStop(conv, hsz1, hsz2);
        return 0;
    case XTYP_ADVREQ:
        return onAdviseRequest(hsz1, hsz2, fmt);
    default:
        return 0; // wild connects and the rest are not offered
    }
}

HDDEDATA DuxlaneDdeServer::onConnect(HSZ topic, HSZ service) {
    if (service == m_hszGeneric) {
        return topic == m_hszSystem ? TRUE : FALSE;
    }
    if (service != m_hszNetwork) {
        return FALSE;
    }
    if (topic == m_hszSystem) {
        return TRUE;
    }
    Topic* t = topicOf(topic);
    if (!t) {
        qCInfo(lcServer).noquote() << "Connection to unknown topic" << text(topic) << "refused";
        return FALSE;
    }
    if (!isVisible(*t)) {
        qCInfo(lcServer).noquote() << "Connection to topic" << text(topic)
                                   << "refused: the control is not on the network yet";
        return FALSE;
    }
    const auto refused = m_refuseConnects.find(t);
    if (refused != m_refuseConnects.end() && *refused > 0) {
        --*refused;
        qCInfo(lcServer).noquote() << "Connection to topic" << text(topic)
                                   << "refused (fault injection);" << *refused << "more to refuse";
        return FALSE;
    }
    return TRUE;
}

void DuxlaneDdeServer::onConnectConfirm(HCONV conv, HSZ topic, HSZ service) {
    Conversation c;
    if (service == m_hszGeneric) {
        c.kind = ConvKind::Generic;
    } else if (topic == m_hszSystem) {
        c.kind = ConvKind::System;
    } else {
        c.kind = ConvKind::Control;
        c.topic = topicOf(topic);
        if (!c.topic) {
            return;
        }
    }
    m_conversations.insert(conv, c);
    qCDebug(lcServer).noquote() << "Conversation" << conv << "on" << text(service) << "/"
                                << text(topic) << "; now" << conversationCount();
    postSystem(names::kConversationCountItem);
}

void DuxlaneDdeServer::onDisconnect(HCONV conv) {
    const auto it = m_conversations.find(conv);
    if (it == m_conversations.end()) {
        return;
    }
    if (it->topic) {
        for (const int slot : std::as_const(it->advised)) {
            --it->topic->adviseCount[static_cast<size_t>(slot)];
        }
    }
    m_conversations.erase(it);
    qCDebug(lcServer) << "Conversation" << conv << "ended; now" << conversationCount();
    releaseHolds(conv);
    postSystem(names::kConversationCountItem);
}

QString DuxlaneDdeServer::systemItem(HSZ item) const {
    if (item == m_hszTopics) {
        QStringList topics = visibleTopics();
        topics.push_back(QLatin1String(names::kSystemTopicInList));
        return topics.join(QLatin1Char('\t'));
    }
    if (item == m_hszConversationCount) {
        return QString::number(conversationCount());
    }
    return QString();
}

HDDEDATA DuxlaneDdeServer::onRequest(HCONV conv, HSZ topicHsz, HSZ item, UINT fmt) {
    const auto convIt = m_conversations.constFind(conv);
    if (convIt == m_conversations.constEnd()) {
        return 0;
    }
    if (convIt->kind != ConvKind::Control) {
        if (convIt->kind == ConvKind::System && fmt == CF_TEXT &&
            (item == m_hszTopics || item == m_hszConversationCount)) {
            return makeText(systemItem(item), item);
        }
        qCWarning(lcServer).noquote()
            << "Request of" << text(item) << "on the system topic refused:"
            << "no such item";
        return 0;
    }
    Topic* topic = convIt->topic;
    const int slot = slotOf(topic, item);
    const QString& name = slot >= 0 ? topic->control->slotName(slot) : QString();
    if (slot < 0) {
        qCWarning(lcServer).noquote()
            << "Request of" << text(item) << "on" << text(topicHsz) << "refused: no such item";
        return 0;
    }
    qCDebug(lcTraffic).noquote() << "traffic: request" << name << "on" << topic->control->topic();
    if (m_options.isErrorItem(name)) {
        qCInfo(lcServer).noquote() << "Request of" << name << "refused (fault injection)";
        return 0;
    }
    if (m_options.isSilentItem(name)) {
        qCInfo(lcServer).noquote()
            << "Request of" << name << "held without answer (fault injection)";
        hold(conv, -1);
        return 0;
    }
    if (m_options.replyDelayMs > 0 && !hold(conv, m_options.replyDelayMs)) {
        return 0;
    }
    if (fmt == CF_TEXT) {
        return makeText(topic->control->value(slot), item);
    }
    if (fmt == names::kAttributeFormat) {
        return makeBytes(topic->control->attributes(slot), item, fmt);
    }
    qCWarning(lcServer).noquote() << "Request of" << name << "in clipboard format" << fmt
                                  << "refused: only text and attributes are offered";
    return 0;
}

HDDEDATA DuxlaneDdeServer::onPoke(HCONV conv, HSZ, HSZ item, UINT fmt, HDDEDATA data) {
    const auto convIt = m_conversations.constFind(conv);
    if (convIt == m_conversations.constEnd() || convIt->kind != ConvKind::Control) {
        qCWarning(lcServer).noquote() << "Poke of" << text(item) << "refused: not a control topic";
        return DDE_FNOTPROCESSED;
    }
    Topic* topic = convIt->topic;
    const int slot = slotOf(topic, item);
    if (slot < 0) {
        qCWarning(lcServer).noquote() << "Poke of" << text(item) << "on" << topic->control->topic()
                                      << "refused: no such item";
        return DDE_FNOTPROCESSED;
    }
    const QString name = topic->control->slotName(slot);
    if (fmt != CF_TEXT) {
        qCWarning(lcServer).noquote() << "Poke of" << name << "refused: values are text";
        return DDE_FNOTPROCESSED;
    }
    QByteArray bytes;
    QString why;
    if (!readData(data, kMaxPokeBytes, &bytes, &why)) {
        qCWarning(lcServer).noquote() << "Poke of" << name << "refused:" << why;
        return DDE_FNOTPROCESSED;
    }
    if (m_options.isErrorItem(name)) {
        qCInfo(lcServer).noquote() << "Poke of" << name << "refused (fault injection)";
        return DDE_FNOTPROCESSED;
    }
    if (m_options.isSilentItem(name)) {
        qCInfo(lcServer).noquote() << "Poke of" << name << "held without answer (fault injection)";
        hold(conv, -1);
        return DDE_FNOTPROCESSED;
    }
    if (m_options.replyDelayMs > 0 && !hold(conv, m_options.replyDelayMs)) {
        return DDE_FNOTPROCESSED;
    }
    const QString value = orvane::fromWindows1252(bytes);
    const SimControl::PokeResult result = topic->control->poke(slot, value);
    if (result != SimControl::PokeResult::Ok) {
        qCWarning(lcServer).noquote()
            << "Poke of" << name << "on" << topic->control->topic() << "with"
            << ('"' + value.left(60) + '"') << "refused:" << SimControl::describe(result);
        return result == SimControl::PokeResult::OffLine ? DDE_FBUSY : DDE_FNOTPROCESSED;
    }
    return DDE_FACK;
}

bool DuxlaneDdeServer::runOpenCommands(const QString& commands, QString* why) {
    // "[open("path")]", possibly several in a row. Inside the quotes every
    // character stands for itself (brackets and parentheses too) and a double
    // quote is written twice; without quotes the path runs to the first ")]".
    const QString text = commands.trimmed();
    if (text.isEmpty()) {
        *why = QStringLiteral("the command is empty");
        return false;
    }
    qsizetype at = 0;
    const auto skipSpaces = [&] {
        while (at < text.size() && text[at].isSpace()) {
            ++at;
        }
    };
    while (at < text.size()) {
        const QString rest = text.mid(at);
        if (!rest.startsWith(QLatin1Char('['))) {
            *why = QStringLiteral("'%1' is not a command in brackets").arg(rest.left(60));
            return false;
        }
        if (!rest.mid(1).startsWith(QLatin1String("open("), Qt::CaseInsensitive)) {
            *why = QStringLiteral("'%1' is not a command of the server").arg(rest.left(60));
            return false;
        }
        at += 6;
        skipSpaces();
        QString path;
        if (at < text.size() && text[at] == QLatin1Char('"')) {
            ++at;
            bool closed = false;
            while (at < text.size()) {
                if (text[at] == QLatin1Char('"')) {
                    if (at + 1 < text.size() && text[at + 1] == QLatin1Char('"')) {
                        path += QLatin1Char('"');
                        at += 2;
                        continue;
                    }
                    ++at;
                    closed = true;
                    break;
                }
                path += text[at++];
            }
            if (!closed) {
                *why = QStringLiteral("'%1' has no closing quote").arg(rest.left(60));
                return false;
            }
            skipSpaces();
            if (text.mid(at, 2) != QLatin1String(")]")) {
                *why = QStringLiteral("'%1' has no closing ')]' after the quoted name")
                           .arg(rest.left(60));
                return false;
            }
            at += 2;
        } else {
            const qsizetype close = text.indexOf(QLatin1String(")]"), at);
            if (close < 0) {
                *why = QStringLiteral("'%1' has no closing ')]'").arg(rest.left(60));
                return false;
            }
            path = text.mid(at, close - at).trimmed();
            at = close + 2;
        }
        skipSpaces();
        if (path.isEmpty()) {
            *why = QStringLiteral("the open command names no file");
            return false;
        }
        if (!openHandler || !openHandler(path, why)) {
            return false;
        }
    }
    return true;
}

HDDEDATA DuxlaneDdeServer::onExecute(HCONV conv, HSZ, HDDEDATA data) {
    const auto convIt = m_conversations.constFind(conv);
    if (convIt == m_conversations.constEnd()) {
        return DDE_FNOTPROCESSED;
    }
    QByteArray bytes;
    QString why;
    if (!readData(data, kMaxExecuteBytes, &bytes, &why)) {
        qCWarning(lcServer).noquote() << "Command refused:" << why;
        return DDE_FNOTPROCESSED;
    }
    const QString command = orvane::fromWindows1252(bytes);
    if (convIt->kind == ConvKind::Generic) {
        if (!runOpenCommands(command, &why)) {
            qCWarning(lcServer).noquote() << "Command" << command.left(200) << "failed:" << why;
            return DDE_FNOTPROCESSED;
        }
        return DDE_FACK;
    }
    if (convIt->kind != ConvKind::Control) {
        qCWarning(lcServer).noquote()
            << "Command" << command.left(60) << "refused: the system topic takes no commands";
        return DDE_FNOTPROCESSED;
    }
    SimControl* control = convIt->topic->control;
    const auto which = SimControl::commandOf(command);
    qCDebug(lcTraffic).noquote() << "traffic: execute"
                                 << (which ? commandName(*which) : command.section(' ', 0, 0))
                                 << "on" << control->topic();
    if (which) {
        const QString name = commandName(*which);
        if (m_options.refusedCommands.contains(name, Qt::CaseInsensitive)) {
            qCInfo(lcServer).noquote()
                << "Command" << name << "on" << control->topic() << "refused (fault injection)";
            return DDE_FNOTPROCESSED;
        }
        if (m_options.silentCommands.contains(name, Qt::CaseInsensitive)) {
            qCInfo(lcServer).noquote() << "Command" << name << "on" << control->topic()
                                       << "taken but never answered (fault injection)";
            control->clearResult(*which);
            return DDE_FACK;
        }
        const auto fail = m_options.failCommands.constFind(name.toUpper());
        if (fail != m_options.failCommands.constEnd()) {
            qCInfo(lcServer).noquote() << "Command" << name << "on" << control->topic() << "answers"
                                       << *fail << "(fault injection)";
            control->pushResult(*which, *fail);
            return DDE_FACK;
        }
    }
    if (m_options.replyDelayMs > 0 && !hold(conv, m_options.replyDelayMs)) {
        return DDE_FNOTPROCESSED;
    }
    if (!control->execute(command, &why)) {
        qCWarning(lcServer).noquote() << "Command" << ('"' + command.left(60) + '"') << "on"
                                      << control->topic() << "refused:" << why;
        return DDE_FNOTPROCESSED;
    }
    return DDE_FACK;
}

HDDEDATA DuxlaneDdeServer::onAdviseStart(HCONV conv, HSZ, HSZ item, UINT fmt) {
    const auto convIt = m_conversations.find(conv);
    if (convIt == m_conversations.end() || fmt != CF_TEXT) {
        return FALSE;
    }
    if (convIt->kind == ConvKind::System) {
        if (item != m_hszTopics && item != m_hszConversationCount) {
            return FALSE;
        }
        ++m_systemAdvised[item];
        QTimer::singleShot(0, this, [this, item] {
            postSystem(item == m_hszTopics ? names::kTopicsItem : names::kConversationCountItem);
        });
        return TRUE;
    }
    if (convIt->kind != ConvKind::Control) {
        return FALSE;
    }
    Topic* topic = convIt->topic;
    const int slot = slotOf(topic, item);
    if (slot < 0) {
        qCWarning(lcServer).noquote() << "Hot link on" << text(item) << "of"
                                      << topic->control->topic() << "refused: no such item";
        return FALSE;
    }
    const QString name = topic->control->slotName(slot);
    if (m_options.isErrorItem(name)) {
        qCInfo(lcServer).noquote() << "Hot link on" << name << "refused (fault injection)";
        return FALSE;
    }
    if (!convIt->advised.contains(slot)) {
        convIt->advised.insert(slot);
        ++topic->adviseCount[static_cast<size_t>(slot)];
    }
    // A new link gets the current value at once, as from the control itself:
    // a reader waiting for the first value of a steady item is not left waiting.
    SimControl* control = topic->control;
    QTimer::singleShot(0, this, [this, control, slot] {
        for (const auto& t : m_topics) { // the topic may be gone with a stopped server
            if (t->control == control) {
                onValueChanged(t.get(), slot);
            }
        }
    });
    return TRUE;
}

void DuxlaneDdeServer::onAdviseStop(HCONV conv, HSZ, HSZ item) {
    const auto convIt = m_conversations.find(conv);
    if (convIt == m_conversations.end()) {
        return;
    }
    if (convIt->kind == ConvKind::System) {
        if (m_systemAdvised.value(item) > 0) {
            --m_systemAdvised[item];
        }
        return;
    }
    if (!convIt->topic) {
        return;
    }
    const int slot = convIt->topic->slotOfHsz.value(item, -1);
    if (slot >= 0 && convIt->advised.remove(slot)) {
        --convIt->topic->adviseCount[static_cast<size_t>(slot)];
    }
}

HDDEDATA DuxlaneDdeServer::onAdviseRequest(HSZ topicHsz, HSZ item, UINT fmt) {
    if (fmt != CF_TEXT) {
        return 0;
    }
    if (topicHsz == m_hszSystem) {
        return makeText(systemItem(item), item);
    }
    Topic* topic = topicOf(topicHsz);
    if (!topic) {
        return 0;
    }
    const int slot = topic->slotOfHsz.value(item, -1);
    if (slot < 0) {
        return 0;
    }
    return makeText(topic->control->value(slot), item);
}

void DuxlaneDdeServer::onValueChanged(Topic* topic, int slot) {
    if (!m_inst || m_stopping || topic->adviseCount[static_cast<size_t>(slot)] <= 0) {
        return;
    }
    if (!m_options.silentItems.isEmpty() &&
        m_options.isSilentItem(topic->control->slotName(slot))) {
        return;
    }
    const HSZ item = topic->hszOfSlot.value(slot, 0);
    if (item) {
        DdePostAdvise(m_inst, topic->hsz, item);
    }
}

void DuxlaneDdeServer::postSystem(const char* name) {
    if (!m_inst || m_stopping) {
        return;
    }
    const HSZ item = qstrcmp(name, names::kTopicsItem) == 0 ? m_hszTopics : m_hszConversationCount;
    if (m_systemAdvised.value(item) > 0) {
        DdePostAdvise(m_inst, m_hszSystem, item);
    }
}

} // namespace orvane::server
