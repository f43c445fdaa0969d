#pragma once

// One simulated control: its variables and their values, its identification,
// its modes (running, I/O locked, off line while resetting or erasing) and
// its commands. It knows nothing of DDE: the front end asks it for values,
// hands it pokes and command texts, and pushes what it reports as changed.
//
// Every name the control answers is a slot: the variables first, in the
// network file's order, then the control's own items (the two name lists,
// the identification items, the command result items).
//
// Thread: the one that owns it; its timers run on that thread's event loop.
// valueChanged is emitted from advance(), from command processing and from
// its own timers, never from inside lookup or read calls.

#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <vector>

#include <QBitArray>
#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

#include "NetworkFile.h"
#include "ddelink/ServerInterface.h"

namespace orvane::server {

class ValueStore;

// Time from an accepted command to its result on the ".Result" item: the
// result of a real control arrives after the requester has started its hot
// link on the result item.
constexpr int kCommandLatencyMs = 100;
// Longest execute text taken (a WriteProgramMemory of a few thousand bytes).
constexpr int kMaxCommandLength = 64 * 1024;

// Result codes of the control commands.
namespace codes {
namespace iface = orvane::duxlane;
constexpr int kSuccess = iface::kResultSuccess;
constexpr int kNotLocked = iface::kResultNotInConfigureMode;     // Reset without I/O lock
constexpr int kMemoryError = iface::kResultMemoryError;          // SaveValues could not store
constexpr int kInvalidAddress = iface::kResultInvalidAddress;    // address in no block
constexpr int kNotErased = iface::kResultBlockNotErased;         // block not opened or not erased
constexpr int kOutsideBlock = iface::kResultAddressOutsideBlock; // outside the opened range
constexpr int kLengthBeyondBlock = iface::kResultLengthBeyondBlock;
constexpr int kAddressNotEven = iface::kResultAddressNotEven;
constexpr int kLengthNotEven = iface::kResultLengthNotEven;
constexpr int kProgramLockout = iface::kResultProgramLockout; // programming without I/O lock
constexpr int kSecurityLockout = iface::kResultSecurityLockout;
constexpr int kUnsupported = iface::kResultUnsupportedFunction;
// EndProgrammingMode outside programming mode: a failure the program reports
// as "EndProgrammingMode Failed".
constexpr int kNotProgramming = 1;
} // namespace codes

enum class Command { Reset, Shutdown, SaveValues, BeginProgramming, EndProgramming, WriteMemory };
constexpr int kCommandCount = 6;
QString commandName(Command command);

// Timings of a control that tests and options may shorten.
struct ControlTiming {
    int resetTimeMs = -1; // -1: the network file's
    int eraseTimeMs = -1;
    int commandLatencyMs = kCommandLatencyMs;
};

class SimControl : public QObject {
    Q_OBJECT
public:
    // The control's own items, after the variables.
    enum Special {
        TopicItemList,
        MutableItemList,
        ProtocolId,
        SystemId,
        ApplicationId,
        ProductId,
        ConfigurationId,
        RunMode,
        ControlStatus,
        ResetResult,
        ShutdownResult,
        SaveValuesResult,
        BeginResult,
        EndResult,
        WriteResult,
        SpecialCount
    };

    enum class PokeResult {
        Ok,
        UnknownItem,
        ReadOnly,
        NeedsIoLock,
        BadValue,
        OutOfRange,
        TooLong,
        OffLine
    };

    using Timing = ControlTiming;

    // `store` is borrowed and may be null (nothing persists then). Saved values
    // and a downloaded application identification are applied at once.
    SimControl(ControlDefinition definition, ValueStore* store,
               ControlTiming timing = ControlTiming(), QObject* parent = nullptr);
    ~SimControl() override;

    const QString& topic() const { return m_def.topic; }
    const ControlDefinition& definition() const { return m_def; }
    int variableCount() const { return static_cast<int>(m_def.items.size()); }
    int slotCount() const { return variableCount() + SpecialCount; }
    int specialSlot(Special s) const { return variableCount() + s; }
    int resultSlot(Command c) const { return specialSlot(Special(ResetResult + int(c))); }

    // The slot of a name (letter case ignored), or -1.
    int find(const QString& name) const;
    QString slotName(int slot) const;
    // The value text of a slot as the control answers it now.
    QString value(int slot) const;
    // The raw attribute reply: class byte, type byte, minimum, zero, maximum, zero.
    QByteArray attributes(int slot) const;
    bool isVariable(int slot) const { return slot >= 0 && slot < variableCount(); }

    PokeResult poke(int slot, const QString& text);
    static QString describe(PokeResult result);

    // Parses and runs a command text. Returns false (and *why) for a text that
    // is not a command or is malformed, and for a control off line; nothing
    // changes then. Otherwise the result arrives on the command's result item.
    bool execute(const QString& text, QString* why);
    // Parses only: which command the text names (for the front end's faults).
    static std::optional<Command> commandOf(const QString& text);
    // Pushes a result code on a command's result item as the control would.
    void pushResult(Command command, int code);
    // Empties a command's result item, as taking the command does (a command
    // that never answers leaves it empty).
    void clearResult(Command command);

    // Moves the live values on by dt seconds (now: seconds since the epoch).
    void advance(double dtSeconds, double nowSeconds);

    bool isOnLine() const;
    bool ioLocked() const { return m_ioLocked; }
    bool inProgrammingMode() const { return m_program.open; }
    // Fault: the control never answers "Control Status" "1".
    void setStuckOffLine(bool stuck);
    void setTiming(const Timing& timing) { m_timing = timing; }

signals:
    void valueChanged(int slot);

private:
    void setValue(int slot, const QString& text);
    void setOnLine(bool online);
    void finishReset();
    int resetTimeMs() const;
    int eraseTimeMs() const;
    int beginProgramming(std::uint32_t address, std::uint32_t length);
    int writeMemory(std::uint32_t address, const QByteArray& bytes);
    int endProgramming();
    int saveValues();
    void setApplicationId(const QString& id);
    double liveValue(int index, double dt, double now);

    ControlDefinition m_def;
    ValueStore* m_store;
    Timing m_timing;
    QHash<QString, int> m_index; // upper-cased name -> slot
    std::vector<QString> m_values;
    std::vector<double> m_state;     // live items: the value before noise
    std::vector<double> m_direction; // ramps: +1 or -1
    // Per live item, worked out once: limits, initial value, set point slot.
    struct LiveLimits {
        double lo = -1e300;
        double hi = 1e300;
        double base = 0;
        int setPoint = -1;
    };
    std::vector<LiveLimits> m_live;
    std::vector<int> m_liveItems;    // indices of the items that move
    QHash<QString, QString> m_saved; // upper-cased name -> value, for Reset
    QString m_topicItemList;
    QString m_mutableItemList;
    QString m_applicationId;
    bool m_ioLocked = false;
    bool m_resetting = false;
    bool m_erasing = false;
    bool m_stuckOffLine = false;
    QTimer m_resetTimer;
    QTimer m_eraseTimer;
    QString m_resultValues[kCommandCount];
    std::mt19937 m_random;
    double m_elapsed = 0;

    struct ProgramState {
        bool open = false;
        int block = -1;
        std::uint32_t start = 0;
        std::uint32_t end = 0;
    } m_program;
    std::vector<QByteArray> m_memory; // per block, allocated at the first BeginProgrammingMode
    std::vector<QBitArray> m_written; // per block: bytes written since the last erase
};

} // namespace orvane::server
