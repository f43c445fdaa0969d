#pragma once

// Shared pieces of the window tests: waiting on the event loop, controls
// that are not connected to any server (their items are real, without
// values), and a plant: the simulated server with the small test network and
// its two controls connected.

#include <functional>
#include <memory>
#include <ostream>
#include <vector>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>

#include "SimServer.h"
#include "TestEnvironment.h"
#include "Wait.h"
#include "ddelink/Synchronizer.h"
#include "inspector/OVVariable.h"
#include "model/KIDevice.h"
#include "model/KIDuxlaneItem.h"
#include "model/KIServer.h"
#include "platform/Registry.h"

inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace orvane::test {

inline bool waitFor(const std::function<bool()>& condition, int timeoutMs = 10000) {
    return WaitUntil(condition, timeoutMs);
}

// Runs the event loop for a while (posted placements and repaints).
inline void settle(int ms = 30) {
    QElapsedTimer timer;
    timer.start();
    while (!timer.hasExpired(ms)) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}

// A control whose items carry attributes, as the program's controls have.
class DuxlaneDevice : public TKIDevice {
protected:
    std::unique_ptr<TKIItem> CreateItem(const QString& upperName) override {
        return std::make_unique<TKIDuxlaneItem>(upperName);
    }
};

// Controls by name; offline ones or connected to the plant's server.
class Controls {
public:
    ~Controls() { clear(); }
    TKIDevice* add(const QString& identifier, TKIServer* server = nullptr) {
        m_devices.push_back(std::make_unique<DuxlaneDevice>());
        TKIDevice* device = m_devices.back().get();
        if (server) {
            device->SetServer(server);
        }
        device->SetIdentifier(identifier);
        return device;
    }
    TKIDevice* find(const QString& name) const {
        for (const auto& device : m_devices) {
            if (device->Identifier().compare(name, Qt::CaseInsensitive) == 0) {
                return device.get();
            }
        }
        return nullptr;
    }
    std::function<TKIDevice*(const QString&)> finder() const {
        return [this](const QString& name) { return find(name); };
    }
    void clear() {
        for (auto& device : m_devices) {
            device->SetServer(nullptr);
        }
        m_devices.clear();
    }

private:
    std::vector<std::unique_ptr<TKIDevice>> m_devices;
};

// The simulated server with the small network; PLC1 and PLC2 connected.
class Plant {
public:
    bool start() {
        if (!m_sim.start(m_sim.writeNetwork(SimServer::kSmallNetwork))) {
            error = m_sim.errorString();
            return false;
        }
        {
            TRegistry registry(HKEY_LOCAL_MACHINE);
            registry.OpenKey(QStringLiteral("\\SOFTWARE\\Kestova\\DDE Servers\\UPCIDuxlane"), true);
            registry.WriteString(QString(), serverExecutable());
        }
        m_server = std::make_unique<TKIServer>();
        m_server->SetServerName(QStringLiteral("UPCIDuxlane"));
        if (!waitFor([this] { return m_server->IsConnected(); })) {
            error = QStringLiteral("server not connected");
            return false;
        }
        plc1 = controls.add(QStringLiteral("PLC1"), m_server.get());
        plc2 = controls.add(QStringLiteral("PLC2"), m_server.get());
        if (!waitFor([this] { return plc1->Active() && plc2->Active(); })) {
            error = QStringLiteral("controls not active");
            return false;
        }
        return true;
    }
    // Ends everything that uses the controls first (windows), then this.
    void stop() {
        controls.clear();
        m_server.reset();
        m_sim.stop();
    }
    ~Plant() { stop(); }

    const TKIServer::TimingScope m_serverTiming{{.retryIntervalMs = 50}};
    const Synchronizer::TimingScope m_synchronizerTiming{{.timeoutMs = 20000}};
    Controls controls;
    TKIDevice* plc1 = nullptr;
    TKIDevice* plc2 = nullptr;
    QString error;

private:
    SimServer m_sim;
    std::unique_ptr<TKIServer> m_server;
};

// Descriptions of a sheet's rows, top to bottom.
inline QStringList descriptions(const TOVVariableList* sheet) {
    QStringList out;
    for (int row = 0; row < sheet->Count(); ++row) {
        out << sheet->Get(row)->Description();
    }
    return out;
}

} // namespace orvane::test
