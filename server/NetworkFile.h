#pragma once

// The network definition file of the simulated Duxlane server: which controls
// the network holds (one DDE topic each), their identification texts, their
// variables and their program memory. docs/network-format.md describes the
// format; this unit reads it into plain values and writes it back (the
// generator of large networks uses the writer).
//
// Thread: any. Nothing here touches the event loop or the file system except
// NetworkFile::load, which reads one file.

#include <cstdint>
#include <optional>
#include <vector>

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace orvane::server {

// Class codes of the raw attribute reply.
enum class ItemClass : std::uint8_t { Monitor = 1, Tunable = 2, Configure = 3 };

// The value kinds the server knows; each has a default raw type code.
enum class ValueKind : std::uint8_t { String, Boolean, Integer, Real, Time, Timer };

// Raw type codes of the attribute reply.
constexpr std::uint8_t kTypeCodeBoolean = 0x01;
constexpr std::uint8_t kTypeCodeInteger16 = 0x03;
constexpr std::uint8_t kTypeCodeInteger32 = 0x04;
constexpr std::uint8_t kTypeCodeReal32 = 0x20;
constexpr std::uint8_t kTypeCodeReal64 = 0x21;
constexpr std::uint8_t kTypeCodeTime = 0x40;
constexpr std::uint8_t kTypeCodeTimer = 0x42;
constexpr std::uint8_t kTypeCodeString = 0x50;

// Limits of what a file may declare; a file beyond them is refused.
constexpr qsizetype kMaxFileBytes = 64 * 1024 * 1024;
constexpr qsizetype kMaxNameLength = 255;    // full item names and topics
constexpr qsizetype kMaxStringLength = 1000; // the longest string value an item may hold
constexpr qsizetype kDefaultStringLength = 80;
constexpr int kMaxControls = 256;
constexpr int kMaxItemsPerControl = 200000;
constexpr std::uint32_t kMaxProgramBlockBytes = 16 * 1024 * 1024;
constexpr int kMaxDecimals = 9;

// How a monitor value moves while the control runs.
struct LiveBehaviour {
    enum class Kind { None, Noise, Sine, Ramp, Follow, Counter, Clock, Toggle, Cycle };
    Kind kind = Kind::None;
    double amplitude = 0; // Sine: amplitude around the initial value
    double period = 10;   // Sine, Toggle, Cycle: seconds
    double rate = 1;  // Ramp: units per second (triangle between min and max); Counter: per second
    QString setPoint; // Follow: name of the item whose value is the target
    double tau = 5;   // Follow: time constant in seconds
    double gain = 1;  // Follow: target = set point * gain + offset
    double offset = 0;
    double noise = 0;  // added to every kind: uniform noise of this amplitude
    QStringList texts; // Cycle: texts shown in turn
};

struct ItemDefinition {
    QString name; // full item name as the control shows it, e.g. "Service: Speed.Gain"
    ItemClass itemClass = ItemClass::Monitor;
    ValueKind kind = ValueKind::String;
    std::uint8_t typeCode = kTypeCodeString;
    QString minText; // limits as sent in the attribute reply ("" for strings)
    QString maxText;
    QString value; // initial value, already in the canonical form of its kind
    int decimals = 2;
    int maxLength = kDefaultStringLength; // strings only
    LiveBehaviour live;
};

struct ProgramBlock {
    std::uint32_t address = 0;
    std::uint32_t length = 0;
};

struct ControlDefinition {
    QString topic; // the control's identifier
    QString description;
    QString protocolId = QStringLiteral("DXP 2.0");
    QString systemId;
    QString applicationId;
    QString productId;
    QString configurationId;
    int resetTimeMs = 6000; // off line after an accepted Reset
    int eraseTimeMs = 1000; // status "0" after BeginProgrammingMode
    bool saveValuesSupported = true;
    bool securityLocked = false; // programming commands answer "Security lockout"
    std::vector<ProgramBlock> programBlocks;
    std::vector<ItemDefinition> items;
};

struct NetworkDefinition {
    QString name;
    std::vector<ControlDefinition> controls;
};

// A parse failure: the 1-based line (0 when the whole file is at fault) and why.
struct NetworkFileError {
    int line = 0;
    QString message;
    QString toString() const;
};

class NetworkFile {
public:
    // Reads a definition from text. Returns nothing and fills *error on the first
    // fault; never throws, never crashes on any input.
    static std::optional<NetworkDefinition> parse(const QByteArray& text, NetworkFileError* error);
    // Reads a file; a file that cannot be read is an error of line 0.
    static std::optional<NetworkDefinition> load(const QString& path, NetworkFileError* error);
    // Writes a definition in the file format; parse(write(d)) gives d back.
    static QByteArray write(const NetworkDefinition& network);
};

// Canonical value texts and their checks, shared by the parser and the control.
namespace values {

enum class Check { Ok, BadForm, OutOfRange, TooLong };

// Brings a value text into the canonical form of its kind ("1"/"0" for
// booleans, "HH:MM:SS.ss" for times) and checks it against the item's limits.
Check normalize(const ItemDefinition& item, const QString& text, QString* canonical);
// Numeric reading of a canonical or poked text (booleans 0/1, times in seconds).
std::optional<double> toNumber(ValueKind kind, const QString& text);
// Text of a number in the item's kind (integers rounded, reals with the item's decimals).
QString fromNumber(const ItemDefinition& item, double value);
// Time text: hours (at least two digits), minutes, seconds with two decimals.
QString formatTime(double seconds);
std::optional<double> parseTime(const QString& text);
bool isNumeric(ValueKind kind);
QString kindName(ValueKind kind);
QString className(ItemClass itemClass);

} // namespace values

} // namespace orvane::server
