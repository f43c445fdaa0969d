#include "SimNetwork.h"

#include <QDateTime>
#include <QFileInfo>

#include "ServerLog.h"

namespace orvane::server {

SimNetwork::SimNetwork(ValueStore* store, SimControl::Timing timing, QObject* parent)
    : QObject(parent), m_store(store), m_timing(timing) {
    connect(&m_timer, &QTimer::timeout, this, &SimNetwork::tick);
}

SimNetwork::~SimNetwork() = default;

bool SimNetwork::openFile(const QString& path, QString* why) {
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    if (!canonical.isEmpty() && m_files.contains(canonical)) {
        qCInfo(lcServer).noquote() << "Network file" << canonical << "is open already";
        return true;
    }
    NetworkFileError error;
    const auto network = NetworkFile::load(path, &error);
    if (!network) {
        *why = QStringLiteral("%1: %2").arg(path, error.toString());
        return false;
    }
    m_files.push_back(canonical);
    addNetwork(*network, canonical);
    return true;
}

void SimNetwork::addNetwork(const NetworkDefinition& network, const QString& origin) {
    for (const ControlDefinition& def : network.controls) {
        if (find(def.topic)) {
            qCWarning(lcServer).noquote()
                << "Control" << def.topic << "of" << origin
                << "is skipped: another network file holds that topic already";
            continue;
        }
        m_controls.push_back(std::make_unique<SimControl>(def, m_store, m_timing));
        qCInfo(lcServer).noquote() << "Control" << def.topic << "with" << def.items.size()
                                   << "items opened from" << origin;
        emit controlAdded(m_controls.back().get());
    }
}

SimControl* SimNetwork::find(const QString& topic) const {
    for (const auto& control : m_controls) {
        if (control->topic().compare(topic, Qt::CaseInsensitive) == 0) {
            return control.get();
        }
    }
    return nullptr;
}

void SimNetwork::start(int intervalMs) {
    m_clock.start();
    m_lastTickMs = 0;
    m_timer.start(intervalMs);
}

void SimNetwork::stop() {
    m_timer.stop();
}

void SimNetwork::tick() {
    const qint64 nowMs = m_clock.elapsed();
    const double dt = static_cast<double>(nowMs - m_lastTickMs) / 1000.0;
    m_lastTickMs = nowMs;
    const double now = static_cast<double>(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
    for (const auto& control : m_controls) {
        control->advance(dt, now);
    }
}

} // namespace orvane::server
