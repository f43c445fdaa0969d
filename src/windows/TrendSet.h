#pragma once

// A trend set (*.ovt): which variables a trend window shows, whether they
// share one scale or each has its own, and the time window, so that the
// engineer can bring the same trend back with live values. The format is
// written down in docs/trend-set-file.md.
//
// Reading and writing only: no windows and no controls are touched here.
// Reading never throws; a file that is not a well-formed trend set is
// refused as a whole with the line at fault, so nothing half-read is opened.
// Writing goes through a temporary file that replaces the old one only when
// complete. Thread: any (no shared state).

#include <cstdint>
#include <vector>

#include <QString>

namespace orvane {

struct TTrendSetVariable {
    QString control;  // the control's topic name
    QString itemName; // the item's full name as the control holds it

    friend bool operator==(const TTrendSetVariable&, const TTrendSetVariable&) = default;
};

struct TTrendSet {
    // The time windows a trend offers, in milliseconds; 0 shows everything.
    static constexpr std::int64_t kTimeWindowsMs[] = {60000, 600000, 3600000, 0};
    static constexpr std::int64_t kDefaultTimeWindowMs = 600000;

    bool perTraceScale = false; // each trace on its own scale, else one shared
    std::int64_t timeWindowMs = kDefaultTimeWindowMs;
    std::vector<TTrendSetVariable> variables;

    friend bool operator==(const TTrendSet&, const TTrendSet&) = default;
};

// The first line of every trend set file.
inline constexpr const char* kTrendSetMagic = "Orvane Trend Set 1";
inline constexpr const char* kTrendSetExtension = "ovt";
inline constexpr const char* kTrendSetFilter = "Trend sets (*.ovt)|*.ovt|All Files (*.*)|*.*";

// The result of reading: the set, or the reason with the 1-based line at
// fault (0 when the file as a whole failed, e.g. could not be read).
struct TTrendSetReadResult {
    bool ok = false;
    TTrendSet set;
    int line = 0;
    QString error;

    // "Line 4: ..." or the plain reason, for a message to the engineer.
    QString Message() const;
};

// Reads a trend set from the bytes of a file.
TTrendSetReadResult ParseTrendSet(const QByteArray& bytes);
TTrendSetReadResult ReadTrendSetFile(const QString& path);

// The bytes of a trend set file (Windows-1252, CR LF).
QByteArray FormatTrendSet(const TTrendSet& set);
// Writes the file safely; false with the reason in *error.
bool WriteTrendSetFile(const QString& path, const TTrendSet& set, QString* error);

} // namespace orvane
