#include "windows/TrendRecorder.h"

#include <QDateTime>

#include "platform/Csv.h"

namespace orvane {

TTrendRecorder::~TTrendRecorder() {
    if (IsRecording()) {
        Stop(QDateTime::currentMSecsSinceEpoch());
    }
}

bool TTrendRecorder::Start(const QString& fileName, const QStringList& columns,
                           std::int64_t nowMs) {
    if (IsRecording()) {
        Stop(nowMs);
    }
    m_error.clear();
    m_values.assign(static_cast<std::size_t>(columns.size()), QString());
    m_changed = false;
    m_lastRowMs = 0;
    m_rows = 0;
    m_unflushed = false;
    m_lastFlushMs = nowMs;
    m_file.setFileName(fileName);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        m_error = m_file.errorString();
        return false;
    }
    QString header = QStringLiteral("time");
    for (const QString& column : columns) {
        header += QLatin1Char(',') + CsvField(column);
    }
    header += QLatin1Char('\n');
    // The header goes out at once: a file that exists is a file that can be read.
    if (!Write(header.toUtf8()) || !Flush(nowMs)) {
        Fail();
        return false;
    }
    return true;
}

bool TTrendRecorder::Stop(std::int64_t nowMs) {
    if (!IsRecording()) {
        return true;
    }
    // The values that came in since the last row are not lost.
    bool ok = Tick(nowMs);
    if (IsRecording()) {
        ok = Flush(nowMs) && ok;
        if (!ok) {
            m_error = m_file.errorString();
        }
        m_file.close();
    }
    return ok;
}

void TTrendRecorder::SetValue(int column, const QString& text) {
    if (column < 0 || static_cast<std::size_t>(column) >= m_values.size()) {
        return;
    }
    m_values[static_cast<std::size_t>(column)] = text;
    m_changed = true;
}

bool TTrendRecorder::Tick(std::int64_t nowMs) {
    if (!IsRecording()) {
        return true;
    }
    // Two rows never share a time: a value within the same millisecond waits
    // for the next tick.
    if (m_changed && nowMs > m_lastRowMs) {
        QByteArray row = TimeText(nowMs).toLatin1();
        for (const QString& value : m_values) {
            row += ',';
            row += CsvField(value).toUtf8();
        }
        row += '\n';
        if (!Write(row)) {
            Fail();
            return false;
        }
        m_lastRowMs = nowMs;
        m_changed = false;
        ++m_rows;
    }
    if (m_unflushed && nowMs - m_lastFlushMs >= kFlushIntervalMs && !Flush(nowMs)) {
        Fail();
        return false;
    }
    return true;
}

bool TTrendRecorder::Write(const QByteArray& bytes) {
    if (m_file.write(bytes) != bytes.size()) {
        return false;
    }
    m_unflushed = true;
    return true;
}

bool TTrendRecorder::Flush(std::int64_t nowMs) {
    m_lastFlushMs = nowMs;
    m_unflushed = false;
    return m_file.flush();
}

void TTrendRecorder::Fail() {
    m_error = m_file.errorString();
    m_file.close();
}

QString TTrendRecorder::CsvField(const QString& text) {
    return orvane::CsvField(text);
}

QString TTrendRecorder::TimeText(std::int64_t msSinceEpoch) {
    return QDateTime::fromMSecsSinceEpoch(msSinceEpoch, Qt::UTC).toString(Qt::ISODateWithMs);
}

} // namespace orvane
