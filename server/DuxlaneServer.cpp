#include "DuxlaneServer.h"

#include <QDir>
#include <QFileInfo>

#include "DuxlaneDdeServer.h"
#include "ServerLog.h"
#include "ServerNames.h"
#include "SimNetwork.h"
#include "ValueStore.h"
#include "platform/WindowClass.h"

namespace orvane::server {

namespace {

// The client may hand over a Windows-style path; try it as given first.
QString resolvePath(const QString& path) {
    if (QFileInfo::exists(path)) {
        return QFileInfo(path).absoluteFilePath();
    }
    QString unix = path;
    unix.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return QFileInfo(unix).absoluteFilePath();
}

} // namespace

DuxlaneServer::DuxlaneServer(ServerOptions options, QObject* parent)
    : QObject(parent), m_options(std::move(options)) {
    if (m_options.dataDir.isEmpty()) {
        m_options.dataDir = ValueStore::defaultDataDir();
    }
    m_store = std::make_unique<ValueStore>(m_options.dataDir);
    SimControl::Timing timing;
    timing.resetTimeMs = m_options.resetTimeMs;
    timing.eraseTimeMs = m_options.eraseTimeMs;
    if (m_options.commandLatencyMs >= 0) {
        timing.commandLatencyMs = m_options.commandLatencyMs;
    }
    m_network = std::make_unique<SimNetwork>(m_store.get(), timing);
    m_dde = std::make_unique<DuxlaneDdeServer>(m_network.get(), m_options);
    m_dde->openHandler = [this](const QString& path, QString* why) {
        return openNetwork(path, why);
    };
    m_exitTimer.setSingleShot(true);
    connect(&m_exitTimer, &QTimer::timeout, this, [this] {
        qCWarning(lcServer) << "Ending now, as the fault injection asked";
        emit exitRequested();
    });
}

DuxlaneServer::~DuxlaneServer() {
    stop();
}

bool DuxlaneServer::openNetwork(const QString& path, QString* why) {
    const QString absolute = resolvePath(path);
    if (!m_network->openFile(absolute, why)) {
        return false;
    }
    m_store->rememberNetwork(QFileInfo(absolute).canonicalFilePath());
    return true;
}

bool DuxlaneServer::start(QString* error) {
    qCInfo(lcServer).noquote() << "Data folder:" << m_options.dataDir;
    if (!m_dde->start(error)) {
        return false;
    }
    const bool firstStart = !m_store->hasNetworkList();
    for (const QString& path : m_store->networkList()) {
        QString why;
        if (!m_network->openFile(path, &why)) {
            qCWarning(lcServer).noquote()
                << "A network file opened before cannot be reopened:" << why;
        }
    }
    for (const QString& path : m_options.openFiles) {
        QString why;
        if (!openNetwork(path, &why)) {
            qCWarning(lcServer).noquote() << "Network file not opened:" << why;
        }
    }
    if (firstStart && m_options.openFiles.isEmpty() && !m_options.noDefaultNetwork &&
        !m_options.defaultNetwork.isEmpty()) {
        QString why;
        if (openNetwork(m_options.defaultNetwork, &why)) {
            qCInfo(lcServer).noquote()
                << "First start: the demo network" << m_options.defaultNetwork << "is open";
        } else {
            qCWarning(lcServer).noquote() << "The demo network cannot be opened:" << why;
        }
    }
    m_network->start(m_options.tickMs);
    if (m_options.registerWindowClass) {
        m_window = std::make_unique<orvane::WindowClassRegistration>(
            QString::fromLatin1(names::kWindowClass));
        if (!m_window->isValid()) {
            qCWarning(lcServer).noquote()
                << "The window class cannot be registered:" << m_window->errorString();
        }
    }
    if (m_options.exitAfterMs >= 0) {
        m_exitTimer.start(m_options.exitAfterMs);
    }
    qCInfo(lcServer).noquote() << "Serving" << m_network->controls().size() << "controls";
    return true;
}

void DuxlaneServer::stop() {
    m_exitTimer.stop();
    m_window.reset();
    if (m_network) {
        m_network->stop();
    }
    if (m_dde) {
        m_dde->stop();
    }
}

} // namespace orvane::server
