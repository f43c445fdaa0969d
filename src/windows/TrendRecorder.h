#pragma once

// Recording of a running trend to a CSV file, in the same form as the
// command line's watch: a header `time,ITEM,...`, then one row per interval in
// which a value changed, holding the latest value of every column. Times are
// ISO 8601 in UTC with milliseconds (`2026-12-08T22:10:00.123Z`) and strictly
// increasing.
//
// Rows are written whole and the file is flushed at least every
// kFlushIntervalMs, so a crash loses at most that much. The caller drives it:
// SetValue() from the hot links, Tick() from a timer every kRowIntervalMs with
// the current time (a test passes its own clock).
//
// Thread: GUI thread. Nothing throws; failures are reported by the return
// value and ErrorString().

#include <cstdint>
#include <vector>

#include <QFile>
#include <QString>
#include <QStringList>

namespace orvane {

class TTrendRecorder {
public:
    static constexpr int kRowIntervalMs = 100;
    static constexpr int kFlushIntervalMs = 1000;

    TTrendRecorder() = default;
    ~TTrendRecorder(); // stops and closes the file
    TTrendRecorder(const TTrendRecorder&) = delete;
    TTrendRecorder& operator=(const TTrendRecorder&) = delete;

    // Creates (or empties) the file and writes the header. False with
    // ErrorString() set when it cannot be created or written; an earlier
    // recording is stopped first.
    bool Start(const QString& fileName, const QStringList& columns, std::int64_t nowMs);
    // Writes the pending row, flushes and closes. False when that last write
    // failed; the file is closed either way.
    bool Stop(std::int64_t nowMs);
    bool IsRecording() const { return m_file.isOpen(); }
    QString FileName() const { return m_file.fileName(); }
    QString ErrorString() const { return m_error; }
    std::int64_t Rows() const { return m_rows; }

    // The latest value text of a column (out of range: ignored).
    void SetValue(int column, const QString& text);
    // Writes a row when a value changed and the clock has moved on since the
    // last row; flushes when due. False when the file could not be written
    // (a full disk): the recording is then stopped and ErrorString() says why.
    bool Tick(std::int64_t nowMs);

    // A CSV field, quoted where it holds a separator, a quote, a line break or
    // leading or trailing blanks.
    static QString CsvField(const QString& text);
    // `2026-12-08T22:10:00.123Z`
    static QString TimeText(std::int64_t msSinceEpoch);

private:
    bool Write(const QByteArray& bytes);
    bool Flush(std::int64_t nowMs);
    void Fail();

    QFile m_file;
    QString m_error;
    std::vector<QString> m_values;
    bool m_changed = false;
    std::int64_t m_lastRowMs = 0;
    std::int64_t m_lastFlushMs = 0;
    bool m_unflushed = false;
    std::int64_t m_rows = 0;
};

} // namespace orvane
