#include "model/KIServer.h"

#include <atomic>

#include "ddelink/DdeError.h"
#include "ddelink/ExeMod.h"
#include "ddelink/KIDdeClientConv.h"
#include "ddelink/KIDdeMgr.h"
#include "ddelink/ServerInterface.h"
#include "ddelink/SyncRequest.h"
#include "model/KIStatusPanel.h"
#include "model/ModelLog.h"
#include "platform/DialogService.h"
#include "platform/KContainer.h"
#include "platform/Process.h"
#include "platform/Registry.h"
#include "platform/TextCodec.h"

namespace orvane {

namespace {

std::atomic<int> g_retryIntervalMs{kRetryIntervalMs};

const char* const kNotActive = "Not Active.";
const char* const kNotActiveStartup = "NotActive";
const char* const kStartingServer = "Starting server ...";
const char* const kUnableToCommunicate = "Unable to establish communication with server";

QString Latin(const char* text) {
    return QString::fromLatin1(text);
}

// Show-window values of the run modes.
int ShowWindowValue(TKRunMode mode) {
    switch (mode) {
    case TKRunMode::Hidden:
        return SW_HIDE;
    case TKRunMode::Normal:
        return SW_SHOWNORMAL;
    case TKRunMode::Minimized:
    default:
        return SW_SHOWMINIMIZED;
    }
}

} // namespace

// --- TDdeConvInfo ---------------------------------------------------------

TDdeConvInfo::TDdeConvInfo() : conversation(std::make_unique<TKIDdeClientConv>()) {}
TDdeConvInfo::~TDdeConvInfo() = default;

// --- TNetworkConfiguration ------------------------------------------------

TNetworkConfiguration::TNetworkConfiguration(TKIServer* server, const QString& topic,
                                             std::unique_ptr<TDdeConvInfo> record)
    : m_server(server), m_topic(topic), m_record(std::move(record)),
      m_waiters(std::make_unique<TKListOfObject>()) {
    m_timer.setInterval(TKIServer::RetryIntervalMs());
    QObject::connect(&m_timer, &QTimer::timeout, [this] { m_server->WaitingTopicTick(this); });
    m_timer.start();
}

TNetworkConfiguration::~TNetworkConfiguration() {
    m_timer.stop();
    m_waiters->FreeObjectsAndClear();
}

std::vector<TConvNotifyEvent> TNetworkConfiguration::TakeWaiters() {
    std::vector<TConvNotifyEvent> waiters;
    for (TObject* object : *m_waiters) {
        waiters.push_back(static_cast<TConvNotificationInfo*>(object)->callback);
    }
    m_waiters->FreeObjectsAndClear();
    return waiters;
}

void TNetworkConfiguration::AddWaiter(const TConvNotifyEvent& callback) {
    m_waiters->Append(new TConvNotificationInfo(callback, m_topic));
}

// --- TKIServer ------------------------------------------------------------

void TKIServer::SetRetryIntervalMsForTesting(int ms) {
    g_retryIntervalMs = ms;
}
int TKIServer::RetryIntervalMs() {
    return g_retryIntervalMs;
}

TKIServer::TKIServer(TComponent* owner)
    : TComponent(owner), m_ddeMgr(std::make_unique<TKIDdeMgr>()),
      m_topics(std::make_unique<TKMapStringToObject>()),
      m_retiredTopics(std::make_unique<TKListOfObject>()),
      m_waitingTopics(std::make_unique<TKListOfObject>()),
      m_deferred(std::make_unique<TKListOfObject>()), m_launcher(std::make_unique<TExeModule>()),
      m_genericConv(std::make_unique<TKIDdeClientConv>()),
      m_systemConv(std::make_unique<TKIDdeClientConv>()),
      m_request(std::make_unique<TSyncRequest>()) {
    TKIDdeMgr::SetCurrent(m_ddeMgr.get());
    m_statusPanel = std::make_unique<TKIStatusPanel>(this);
    m_startupTimer.setSingleShot(false);
    QObject::connect(&m_startupTimer, &QTimer::timeout, [this] { StartupTimerTick(); });
}

TKIServer::~TKIServer() {
    m_destroying = true;
    // Devices forget this server (and its conversations) before they go.
    NotifyDestruction();
    m_startupTimer.stop();
    ShutDown();
    m_topics->FreeValuesAndClear();
    m_retiredTopics->FreeObjectsAndClear();
    m_deferred->FreeObjectsAndClear();
    m_waitingTopics->FreeObjectsAndClear();
    m_launcher.reset();
    m_genericConv.reset();
    m_systemConv.reset();
    m_statusPanel.reset();
    m_request.reset();
    if (TKIDdeMgr::Current() == m_ddeMgr.get()) {
        TKIDdeMgr::SetCurrent(nullptr);
    }
    m_ddeMgr.reset();
}

void TKIServer::ShowStatus(const QString& text) {
    m_statusPanel->SetText(text);
}

void TKIServer::ReportError(const QString& text) {
    qCWarning(lcModel) << text;
    showError(text);
}

bool TKIServer::LauncherRunning() const {
    return m_launcher->State() == TExeModuleState::Running;
}

bool TKIServer::IsConnected() const {
    return m_systemConv->IsConnected();
}

TDdeConvInfo* TKIServer::FindTopic(const QString& topic) const {
    return m_topics->FindAs<TDdeConvInfo>(topic);
}

TNetworkConfiguration* TKIServer::FindWaitingTopic(const QString& topic) const {
    for (TObject* object : *m_waitingTopics) {
        auto* configuration = static_cast<TNetworkConfiguration*>(object);
        if (configuration->Topic() == topic) {
            return configuration;
        }
    }
    return nullptr;
}

int TKIServer::TopicUseCount(const QString& topic) const {
    TDdeConvInfo* record = FindTopic(topic);
    return record ? record->useCount : 0;
}

bool TKIServer::IsTopicWaiting(const QString& topic) const {
    return FindWaitingTopic(topic) != nullptr;
}

void TKIServer::SetServerName(const QString& name) {
    if (name == m_serverName) {
        return;
    }
    // The devices may still hold the old topics' conversations: they are kept
    // (not released) until this object is destroyed.
    for (auto it = m_topics->First(); it->IsValid(); it->Next()) {
        m_retiredTopics->Append(it->Current());
    }
    m_topics->Clear();
    ShutDown();
    m_serverName = name;
    if (!ComponentState().testFlag(csLoading) && !m_serverName.isEmpty()) {
        StartServer();
    }
}

void TKIServer::SetNetworkDefFiles(const QStringList& files) {
    m_networkDefFiles = files;
    if (!ComponentState().testFlag(csDesigning)) {
        OpenNetworkFiles();
    }
}

void TKIServer::Loaded() {
    TComponent::Loaded();
    ShowStatus(Latin(kNotActive));
    if (!m_serverName.isEmpty()) {
        StartServer();
    }
}

void TKIServer::Notification(TComponent* component, TOperation operation) {
    if (m_statusPanel) {
        m_statusPanel->Notification(component, operation);
    }
    TComponent::Notification(component, operation);
}

QString TKIServer::FindServerPath() {
    QString path;
    bool found = false;
    TRegistry registry(HKEY_LOCAL_MACHINE);
    const QString serversKey =
        QStringLiteral("\\%1\\%2\\%3")
            .arg(Latin(duxlane::kRegistrySoftwareKey), Latin(duxlane::kRegistryMakerKey),
                 Latin(duxlane::kRegistryServersKey));
    if (registry.OpenKeyReadOnly(serversKey)) {
        for (const QString& sub : registry.GetKeyNames()) {
            if (sub.compare(m_serverName, Qt::CaseInsensitive) != 0) {
                continue;
            }
            TRegistry server(HKEY_LOCAL_MACHINE);
            if (server.OpenKeyReadOnly(serversKey + QLatin1Char('\\') + sub)) {
                try {
                    path = server.ReadString(QString());
                    found = true;
                } catch (const ERegistryException& e) {
                    qCWarning(lcModel) << "Registry entry of" << sub << "unreadable:" << e.what();
                }
                break;
            }
        }
    }
    if (!found) {
        ReportError(m_serverName + QStringLiteral(" has not been registered."));
    }
    return path;
}

void TKIServer::StartServer() {
    if (ComponentState().testFlag(csDesigning)) {
        return;
    }
    ShowStatus(Latin(kStartingServer));
    const QString path = FindServerPath();
    try {
        m_launcher->Run(path, ShowWindowValue(m_runMode),
                        TExeModuleEvent(this, &TKIServer::ServerStarted));
    } catch (const ExeModuleException& e) {
        ShowStatus(Latin(kNotActive));
        m_serverName.clear();
        ReportError(QStringLiteral("Could not start server.") + e.message());
    }
}

void TKIServer::ServerStarted(TExeModule*) {
    // The launcher may call this from the message loop: a failure is shown
    // here rather than thrown into the loop.
    try {
        ConnectServer();
    } catch (const Exception& e) {
        ReportStartupFailure(e.message());
    }
}

void TKIServer::ReportStartupFailure(const QString& text) {
    ReportError(text);
    if (!IsConnected() && !m_startupTimer.isActive() && m_onConnectFailed) {
        m_onConnectFailed(this);
    }
}

void TKIServer::ConnectServer() {
    if (!m_genericConv->Connect(Latin(duxlane::kGenericService), Latin(duxlane::kSystemTopic))) {
        m_startupTriesLeft = kStartupTries;
        m_startupTimer.start(RetryIntervalMs());
        return;
    }
    if (!m_systemConv->Connect(m_serverName, Latin(duxlane::kSystemTopic))) {
        ShutDown();
        AnswerDeferred(false);
        throw Exception(Latin(kUnableToCommunicate));
    }
    AnswerDeferred(true);
    OpenNetworkFiles();
    if (m_onConnected) {
        m_onConnected(this);
    }
    ListenForLostConnections();
}

void TKIServer::StartupTimerTick() {
    --m_startupTriesLeft;
    m_startupTimer.stop();
    try {
        if (m_genericConv->Connect(Latin(duxlane::kGenericService), Latin(duxlane::kSystemTopic))) {
            if (m_systemConv->Connect(m_serverName, Latin(duxlane::kSystemTopic))) {
                AnswerDeferred(true);
                if (m_onConnected) {
                    m_onConnected(this);
                }
                OpenNetworkFiles();
                ListenForLostConnections();
            } else {
                StartupFailed();
            }
        } else if (m_startupTriesLeft < 1) {
            StartupFailed();
        } else {
            m_startupTimer.start(RetryIntervalMs());
        }
    } catch (const Exception& e) {
        ReportStartupFailure(e.message());
    }
}

void TKIServer::StartupFailed() {
    ShutDown();
    AnswerDeferred(false);
    ShowStatus(Latin(kNotActiveStartup));
    throw Exception(Latin(kUnableToCommunicate));
}

void TKIServer::AnswerDeferred(bool serverUp) {
    // Moved aside first: answering may add new deferred requests.
    std::vector<std::unique_ptr<TConvNotificationInfo>> deferred;
    for (TObject* object : *m_deferred) {
        deferred.emplace_back(static_cast<TConvNotificationInfo*>(object));
    }
    m_deferred->Clear();
    for (const auto& request : deferred) {
        if (serverUp) {
            OpenTopic(request->topic, request->callback);
        } else {
            request->callback(nullptr);
        }
    }
}

void TKIServer::ListenForLostConnections() {
    m_ddeMgr->SetOnDisconnect(Delegate<TKIDdeMgr*>(this, &TKIServer::ConnectionLost));
}

void TKIServer::ConnectionLost(TKIDdeMgr*) {
    if (!m_destroying && m_onDisconnected) {
        m_onDisconnected(this);
    }
}

void TKIServer::OpenTopic(const QString& topic, const TConvNotifyEvent& callback) {
    if (!LauncherRunning()) {
        if (ComponentState().testFlag(csDesigning)) {
            return;
        }
        m_deferred->Append(new TConvNotificationInfo(callback, topic));
        const QString path = FindServerPath();
        if (!path.isEmpty()) {
            try {
                StartServer();
            } catch (const Exception& e) {
                qCWarning(lcModel) << "Starting the server failed:" << e.what();
                m_deferred->FreeObjectsAndClear();
                ReportError(QStringLiteral("Could not start server."));
            }
        }
        return;
    }

    if (TDdeConvInfo* record = FindTopic(topic)) {
        ++record->useCount;
        // A live shared conversation is handed over as it is: connecting it
        // again would end the other users' hot links.
        if (record->conversation->IsConnected() ||
            record->conversation->Connect(m_serverName, topic)) {
            callback(record->conversation.get());
            return;
        }
        --record->useCount;
    }

    if (TNetworkConfiguration* waiting = FindWaitingTopic(topic)) {
        waiting->AddWaiter(callback);
        ++waiting->m_record->useCount;
        return;
    }

    auto record = std::make_unique<TDdeConvInfo>();
    if (record->conversation->Connect(m_serverName, topic)) {
        TKIDdeClientConv* conversation = record->conversation.get();
        m_topics->Add(topic, record.release());
        callback(conversation);
        return;
    }
    qCDebug(lcModel) << "Topic" << topic << "not open yet; retrying";
    auto* configuration = new TNetworkConfiguration(this, topic, std::move(record));
    configuration->AddWaiter(callback);
    m_waitingTopics->Append(configuration);
}

void TKIServer::WaitingTopicTick(TNetworkConfiguration* configuration) {
    --configuration->m_triesLeft;
    const QString topic = configuration->m_topic;
    if (configuration->m_triesLeft < 0) {
        configuration->m_timer.stop();
        std::vector<TConvNotifyEvent> waiters = configuration->TakeWaiters();
        RemoveWaitingTopic(configuration); // frees it and its record
        for (const TConvNotifyEvent& waiter : waiters) {
            waiter(nullptr);
        }
        ShowStatus(Latin(kNotActive));
        ReportError(QStringLiteral("Could not open topic: ") + topic);
        return;
    }
    if (!configuration->m_record->conversation->Connect(m_serverName, topic)) {
        return;
    }
    configuration->m_timer.stop();
    std::vector<TConvNotifyEvent> waiters = configuration->TakeWaiters();
    TDdeConvInfo* record = configuration->m_record.release();
    TKIDdeClientConv* conversation = record->conversation.get();
    ReplaceDeadRecord(topic, record);
    m_topics->Add(topic, record);
    RemoveWaitingTopic(configuration);
    ListenForLostConnections();
    for (const TConvNotifyEvent& waiter : waiters) {
        waiter(conversation);
    }
}

void TKIServer::ReplaceDeadRecord(const QString& topic, TDdeConvInfo* record) {
    // A record whose conversation died and could not be connected again: its
    // users' uses move to the new record, so that their releases end the live
    // conversation; the dead one is kept (they may still hold it) until this
    // object goes.
    while (TDdeConvInfo* dead = FindTopic(topic)) {
        m_topics->Remove(topic);
        record->useCount += dead->useCount;
        dead->useCount = 0;
        m_retiredTopics->Append(dead);
    }
}

void TKIServer::RemoveWaitingTopic(TNetworkConfiguration* configuration) {
    if (m_waitingTopics->RemoveObject(configuration)) {
        delete configuration;
    }
}

void TKIServer::ReleaseTopic(const QString& topic) {
    if (TDdeConvInfo* record = FindTopic(topic)) {
        if (--record->useCount > 0) {
            return;
        }
        m_topics->Remove(topic);
        try {
            record->conversation->Disconnect();
        } catch (const Exception& e) {
            qCWarning(lcModel) << "Ending the conversation of" << topic << "failed:" << e.what();
        }
        delete record;
        if (m_topics->IsEmpty()) {
            ShowStatus(Latin(kNotActive));
        }
        return;
    }
    // A topic still being retried: once nobody waits for it, stop trying.
    if (TNetworkConfiguration* waiting = FindWaitingTopic(topic)) {
        if (--waiting->m_record->useCount <= 0) {
            RemoveWaitingTopic(waiting);
        }
    }
}

QString TKIServer::RequestSystemItem(const char* item, int timeoutMs) {
    return m_request->RequestText(m_systemConv.get(), Latin(item), timeoutMs);
}

int TKIServer::OwnTopicConversations() const {
    int count = 0;
    for (auto it = m_topics->First(); it->IsValid(); it->Next()) {
        count += it->CurrentAs<TDdeConvInfo>()->conversation->IsConnected() ? 1 : 0;
    }
    for (TObject* object : *m_retiredTopics) {
        count += static_cast<TDdeConvInfo*>(object)->conversation->IsConnected() ? 1 : 0;
    }
    return count;
}

void TKIServer::ShutDown() {
    if (!LauncherRunning()) {
        return;
    }
    if (!m_systemConv->IsConnected()) {
        // Nobody can be asked how many clients are left; a program started by
        // this object that never answered is closed (a found one never is).
        m_launcher->Close();
        return;
    }
    try {
        const QString reply =
            RequestSystemItem(duxlane::kConversationCountItem, kShutdownRequestTimeoutMs);
        bool isNumber = false;
        const int count = reply.toInt(&isNumber);
        // The server counts every conversation, this program's topic
        // conversations too: they are not other clients.
        if (isNumber && count - OwnTopicConversations() <= duxlane::kOwnSystemConversations) {
            m_launcher->Close();
        }
    } catch (const Exception& e) {
        // A hung or lost server: it is not asked again and not closed.
        qCWarning(lcModel) << "Shutting the server down:" << e.what();
    }
}

void SplitNameList(const QString& text, QStringList& list) {
    QString current;
    for (QChar c : text) {
        if (c == QLatin1Char(duxlane::kListSeparator)) {
            list.append(current);
            current.clear();
        } else {
            current.append(c);
        }
    }
    if (!current.isEmpty()) {
        list.append(current);
    }
}

void TKIServer::GetTopics(QStringList& list) {
    list.clear();
    if (!m_systemConv->IsConnected()) {
        throw Exception(QStringLiteral("Control has not been connected."));
    }
    SplitNameList(RequestSystemItem(duxlane::kTopicsItem), list);
}

void TKIServer::GetControlTopics(QStringList& list) {
    GetTopics(list);
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (list[i].compare(Latin(duxlane::kSystemTopicListEntry), Qt::CaseInsensitive) == 0) {
            list.removeAt(i);
            break;
        }
    }
}

void TKIServer::OpenNetworkFile(const QString& path) {
    if (!m_genericConv->IsConnected()) {
        // Opened once the server answers (ServerStarted opens every file).
        qCDebug(lcModel) << "Server not connected yet; opening" << path << "later";
        return;
    }
    m_genericConv->Execute(OpenCommandText(path), TDdeDataEvent());
}

QString TKIServer::OpenCommandText(const QString& path) {
    // The path travels in Windows-1252 inside one command line: a character
    // it cannot carry, or a line break, would reach the server as another file.
    const bool lineBreak = path.contains(QLatin1Char('\r')) || path.contains(QLatin1Char('\n')) ||
                           path.contains(QChar(0));
    if (path.isEmpty() || lineBreak || fromWindows1252(toWindows1252(path)) != path) {
        throw Exception(
            QStringLiteral("The network definition file %1 cannot be handed to the server: its "
                           "name holds characters the server cannot receive.")
                .arg(path));
    }
    // Inside the quotes a double quote is written twice; brackets and
    // parentheses stand for themselves.
    QString quoted = path;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return Latin(duxlane::kOpenCommandPrefix) + quoted + Latin(duxlane::kOpenCommandSuffix);
}

void TKIServer::OpenNetworkFiles() {
    for (const QString& file : QStringList(m_networkDefFiles)) {
        try {
            OpenNetworkFile(file);
        } catch (const Exception& e) {
            // One file the server cannot be handed must not stop the others.
            ReportError(e.message());
        }
    }
}

void TKIServer::SetOnConnected(const TKIServerEvent& handler) {
    if (m_systemConv->IsConnected() && handler) {
        handler(this);
    }
    m_onConnected = handler;
}

void TKIServer::SetOnDdeError(const TKIDdeErrorEvent& handler) {
    m_ddeMgr->SetOnDdeError(handler);
}

} // namespace orvane
