#include "model/OVServer.h"

#include <algorithm>

#include <QThread>

#include "model/KIServer.h"
#include "model/ModelLog.h"
#include "platform/DialogService.h"
#include "platform/Exception.h"

namespace orvane {

namespace {

int g_topicReasks = kTopicReasks;
int g_topicReaskIntervalMs = kTopicReaskIntervalMs;

} // namespace

void TServer::SetTopicReaskTimingForTesting(int reasks, int intervalMs) {
    g_topicReasks = reasks;
    g_topicReaskIntervalMs = intervalMs;
}

TServer::TServer() : m_server(std::make_unique<TKIServer>()) {
    m_server->SetOnDdeError(TKIDdeErrorEvent(this, &TServer::DdeError));
}

TServer::~TServer() {
    m_server->SetOnDisconnected(TKIServerEvent());
    // Each control gives its topic back first, so that the server object can
    // tell whether other clients still use the server program.
    for (const auto& control : m_controls) {
        control->SetServer(nullptr);
    }
    m_controlList.clear();
    m_controls.clear();
    m_server.reset();
}

bool TServer::Connect(const TServerEvent& onConnected) {
    m_onConnected = onConnected;
    m_finished = false;
    m_serverFailed = false;
    m_server->SetOnConnectFailed(TKIServerEvent(this, &TServer::ServerGivenUp));
    m_server->SetOnConnected(TKIServerEvent(this, &TServer::ServerConnected));
    const QString name = QString::fromLatin1(kServiceName);
    m_server->SetServerName(name);
    // A server program that could not be started leaves the name empty.
    return m_server->ServerName() == name;
}

TKIDuxlaneControl* TServer::FindControl(const QString& name) const {
    for (TKIDuxlaneControl* control : m_controlList) {
        if (control->Identifier().compare(name, Qt::CaseInsensitive) == 0) {
            return control;
        }
    }
    return nullptr;
}

bool TServer::ReadControlTopics(QStringList& topics) {
    try {
        m_server->GetControlTopics(topics);
        return true;
    } catch (const Exception& e) {
        // Without a topic list there is nothing to connect to; the main
        // window learns it from the callback without controls.
        qCWarning(lcModel) << "Reading the topic list failed:" << e.what();
        showError(e.message());
        return false;
    }
}

void TServer::FinishConnecting() {
    if (m_finished) {
        return;
    }
    m_finished = true;
    if (m_onConnected) {
        m_onConnected(this);
    }
}

void TServer::ServerGivenUp(TKIServer*) {
    // The engineer has been shown why; the main window must not wait on.
    m_serverFailed = true;
    FinishConnecting();
}

void TServer::ServerConnected(TKIServer*) {
    if (!m_controls.empty()) {
        // The controls of this server exist already.
        return;
    }
    m_server->SetOnDisconnected(TKIServerEvent(this, &TServer::ConnectionLost));

    QStringList topics;
    if (!ReadControlTopics(topics)) {
        FinishConnecting();
        return;
    }
    if (topics.isEmpty()) {
        FileDialogRequest request;
        request.caption = QStringLiteral("Open Network Definition File");
        request.initialDir = QStringLiteral("..\\Duxlane Server");
        request.filter =
            QStringLiteral("Network Definition Files (*.net)|*.net|All Files (*.*)|*.*");
        request.options = ofHideReadOnly | ofFileMustExist;
        const std::optional<QString> file = DialogService::current().openFile(request);
        if (!file) {
            FinishConnecting();
            return;
        }
        try {
            m_server->OpenNetworkFile(*file);
        } catch (const Exception& e) {
            qCWarning(lcModel) << "Opening" << *file << "failed:" << e.what();
            showError(e.message());
            FinishConnecting();
            return;
        }
        // The server reads the file in its own time: ask again a few times.
        if (!ReadControlTopics(topics)) {
            FinishConnecting();
            return;
        }
        for (int i = 0; topics.isEmpty() && i < g_topicReasks; ++i) {
            QThread::msleep(static_cast<unsigned long>(std::max(0, g_topicReaskIntervalMs)));
            if (!ReadControlTopics(topics)) {
                FinishConnecting();
                return;
            }
        }
    }
    if (topics.isEmpty()) {
        qCWarning(lcModel) << "The server knows no controls";
        FinishConnecting();
        return;
    }
    m_creatingControls = true;
    for (const QString& topic : topics) {
        auto control = std::make_unique<TKIDuxlaneControl>();
        TKIDuxlaneControl* raw = control.get();
        m_controls.push_back(std::move(control));
        m_controlList.push_back(raw);
        raw->SetServer(m_server.get());
        raw->SetOnConnect(TKIDeviceEvent(this, &TServer::ControlConnected));
        raw->SetOnConnectFailed(TKIDeviceEvent(this, &TServer::ControlGivenUp));
        try {
            raw->SetIdentifier(topic);
        } catch (const Exception& e) {
            // A control that cannot be reached would keep the others from
            // ever being reported: it is left out.
            qCWarning(lcModel) << e.what();
            showError(e.message());
            raw->SetServer(nullptr);
            std::erase(m_connected, raw);
            std::erase(m_givenUp, raw);
            m_controlList.pop_back();
            m_controls.pop_back();
        }
    }
    m_creatingControls = false;
    CheckAllSettled();
}

void TServer::ControlConnected(TKIDevice* sender) {
    // A control reports again after a reset or a reconnect: counted once.
    if (std::find(m_connected.begin(), m_connected.end(), sender) != m_connected.end()) {
        return;
    }
    std::erase(m_givenUp, sender);
    m_connected.push_back(sender);
    CheckAllSettled();
}

void TServer::ControlGivenUp(TKIDevice* sender) {
    if (std::find(m_connected.begin(), m_connected.end(), sender) != m_connected.end() ||
        std::find(m_givenUp.begin(), m_givenUp.end(), sender) != m_givenUp.end()) {
        return;
    }
    m_givenUp.push_back(sender);
    CheckAllSettled();
}

void TServer::CheckAllSettled() {
    if (m_creatingControls || m_finished) {
        return;
    }
    if (ConnectedCount() + NotConnectedCount() >= ControlCount()) {
        FinishConnecting();
    }
}

void TServer::ConnectionLost(TKIServer*) {
    m_server->SetOnDisconnected(TKIServerEvent());
    qCWarning(lcModel) << "Communications with the server have been lost";
    showError(
        QStringLiteral("Communications have been lost and the application will be terminated."));
    if (m_onTerminate) {
        m_onTerminate(this);
    }
}

QString TServer::DdeErrorText(const QString& operation) {
    if (operation == QLatin1String("Start Advise")) {
        return QStringLiteral("Request of communications failed:");
    }
    if (operation == QLatin1String("Stop Advise")) {
        return QStringLiteral("Request of disconnection failed:");
    }
    if (operation == QLatin1String("Poke")) {
        return QStringLiteral("Error while trying to write:");
    }
    if (operation == QLatin1String("Execute")) {
        return QStringLiteral("Error during execution of command:");
    }
    if (operation == QLatin1String("Request")) {
        return QStringLiteral("Error during request of data:");
    }
    return QStringLiteral("Error during transaction:");
}

void TServer::DdeError(const QString& operation, const QString& topic, const QString& item) {
    const QString text = DdeErrorText(operation) + topic + QLatin1Char(':') + item;
    qCWarning(lcModel) << text;
    if (m_onDdeMessage) {
        m_onDdeMessage(text);
    }
}

} // namespace orvane
