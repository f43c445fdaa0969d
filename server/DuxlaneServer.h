#pragma once

// The whole simulated server in one object: data folder, network, DDE face,
// window class registration and the timed end of the fault injection. The
// executable runs one on its event loop; tests may run one in-process on
// theirs (the DDE callbacks then arrive on the test's thread).
//
// Start-up order: the DDE services are registered, the remembered network
// files are reopened, then those of the options, then (only at the very first
// start, when no network file was ever opened and the options allow it) the
// demo network; last the window class "Duxlane Server" is registered, so that
// whoever finds the window finds a server that answers.

#include <memory>

#include <QObject>
#include <QTimer>

#include "ServerOptions.h"

namespace orvane {
class WindowClassRegistration;
}

namespace orvane::server {

class DuxlaneDdeServer;
class SimNetwork;
class ValueStore;

class DuxlaneServer : public QObject {
    Q_OBJECT
public:
    explicit DuxlaneServer(ServerOptions options, QObject* parent = nullptr);
    ~DuxlaneServer() override;

    // False (with *error) when the DDE services cannot be registered. Network
    // files that cannot be opened are logged and skipped.
    bool start(QString* error);
    // Ends every conversation and unregisters the services and the window class.
    void stop();

    // Opens a network file and remembers it for the next start.
    bool openNetwork(const QString& path, QString* why);

    SimNetwork& network() { return *m_network; }
    ValueStore& store() { return *m_store; }
    DuxlaneDdeServer& dde() { return *m_dde; }
    const ServerOptions& options() const { return m_options; }

signals:
    // The fault injection's exit time has come; the owner ends the server.
    void exitRequested();

private:
    ServerOptions m_options;
    std::unique_ptr<ValueStore> m_store;
    std::unique_ptr<SimNetwork> m_network;
    std::unique_ptr<DuxlaneDdeServer> m_dde;
    std::unique_ptr<orvane::WindowClassRegistration> m_window;
    QTimer m_exitTimer;
};

} // namespace orvane::server
