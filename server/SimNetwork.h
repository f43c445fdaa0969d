#pragma once

// The simulated network: the controls of every network file the server has
// opened, and the clock that moves their live values.
//
// Thread: the owner's; the tick timer runs on its event loop. controlAdded is
// emitted from openFile/addNetwork, after the control is in the list.

#include <memory>
#include <vector>

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include "NetworkFile.h"
#include "SimControl.h"

namespace orvane::server {

class ValueStore;

class SimNetwork : public QObject {
    Q_OBJECT
public:
    // `store` is borrowed and may be null.
    SimNetwork(ValueStore* store, SimControl::Timing timing, QObject* parent = nullptr);
    ~SimNetwork() override;

    // Opens a network file. A file already open is taken again without change.
    // False (with *why) when it cannot be read or is malformed: nothing is
    // added then. Controls whose topic another file already holds are skipped
    // with a log line.
    bool openFile(const QString& path, QString* why);
    // Adds the controls of a definition (origin names it in log lines).
    void addNetwork(const NetworkDefinition& network, const QString& origin);

    const std::vector<std::unique_ptr<SimControl>>& controls() const { return m_controls; }
    // The control of a topic (letter case ignored), or null.
    SimControl* find(const QString& topic) const;
    QStringList openedFiles() const { return m_files; }

    // Live values move every `intervalMs` while started.
    void start(int intervalMs);
    void stop();

signals:
    void controlAdded(orvane::server::SimControl* control);

private:
    void tick();

    ValueStore* m_store;
    SimControl::Timing m_timing;
    std::vector<std::unique_ptr<SimControl>> m_controls;
    QStringList m_files; // canonical paths
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_lastTickMs = 0;
};

} // namespace orvane::server
