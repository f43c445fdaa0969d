#pragma once

// The data side of a trend window: one trace per variable, fed from the
// variable's hot link (never polled), each into its own bounded buffer, and an
// optional CSV recording of the same values.
//
// Ownership: the feed owns its traces and the recorder; devices are borrowed
// and must outlive the feed or the traces taken from them (RemoveAll()).
// Thread: GUI thread. Hot-link values arrive through the item's subscribers;
// OnValues is called once per value and is meant to mark the plot dirty (the
// window repaints on its own timer). AddTrace reads the item's attributes and
// waits with the event loop running, so values may arrive inside it.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include <QString>

#include "model/KIDuxlaneItem.h"
#include "windows/TrendBuffer.h"
#include "windows/TrendRecorder.h"

namespace orvane {

class TKIDevice;
class TKIItem;

struct TTrendTrace {
    TKIDevice* device = nullptr; // borrowed
    TKIItem* item = nullptr;     // claimed from the device while the trace exists
    QString name;                // the variable's name as the engineer gave it
    ItemDataType dataType = vdtReal;
    TTrendBuffer buffer;
    QString lastText; // the latest value text, as the inspector shows it
    // The item's limits where the control states them (a minimum below the
    // maximum); a value axis of this trace alone spans them.
    std::optional<std::pair<double, double>> limits;
};

class TTrendFeed {
public:
    // Wall-clock milliseconds since the epoch; a test passes its own.
    using Clock = std::function<std::int64_t()>;

    explicit TTrendFeed(Clock clock = Clock());
    ~TTrendFeed(); // stops the recording and every hot link
    TTrendFeed(const TTrendFeed&) = delete;
    TTrendFeed& operator=(const TTrendFeed&) = delete;

    // Starts a trace of the variable. Refused (false, the reason in *error) for
    // a string variable or one the device does not know; nothing is then
    // claimed. A variable already traced is not added twice (true).
    bool AddTrace(TKIDevice* device, const QString& itemName, QString* error);
    // A trace fed only through Receive(), with no control behind it (replays,
    // tests, benchmarks). Returns its index.
    int AddDetachedTrace(const QString& name, ItemDataType type = vdtReal);
    // Stops every hot link and forgets the traces (and stops a recording).
    void RemoveAll();

    // A value text for a trace, stamped with the feed's clock: what a hot link
    // delivers. Out of range: ignored.
    void Receive(int index, const QString& text);
    // The feed's clock: wall-clock milliseconds since the epoch.
    std::int64_t Now() const;

    int TraceCount() const { return static_cast<int>(m_traces.size()); }
    const TTrendTrace& Trace(int index) const { return *m_traces[static_cast<size_t>(index)]; }

    // Records every trace's values from now on; see TTrendRecorder.
    bool StartRecording(const QString& fileName, QString* error);
    bool StopRecording(QString* error);
    // Called every TTrendRecorder::kRowIntervalMs by the window; false when the
    // recording failed (it is then stopped; Recorder().ErrorString() says why).
    bool TickRecording();
    const TTrendRecorder& Recorder() const { return m_recorder; }

    std::function<void()> OnValues;

private:
    void ValueChanged(TKIItem* item);
    void Release(TTrendTrace& trace);
    void Store(int index, std::int64_t nowMs, const QString& text);

    Clock m_clock;
    std::vector<std::unique_ptr<TTrendTrace>> m_traces;
    TTrendRecorder m_recorder;
};

} // namespace orvane
