// watch: live values of a control's items as CSV, from hot links. A row is
// written at most once per interval and only when a value has changed since
// the last row; it holds the latest value of every item. Rows are written
// whole and flushed, so the file is complete whenever the command ends
// (Ctrl+C, --duration, a lost server).

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <unordered_map>
#include <vector>

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include "cli/CliCommand.h"
#include "cli/CliRun.h"
#include "cli/CliSession.h"
#include "cli/CliText.h"
#include "model/KIDuxlaneControl.h"
#include "model/KIItem.h"
#include "model/OVServer.h"

namespace orvane::cli {

namespace {

volatile std::sig_atomic_t g_stopRequested = 0;

extern "C" void RequestStop(int) {
    g_stopRequested = 1;
}

// Ctrl+C and a polite termination end the watch at the next look.
class StopSignals {
public:
    StopSignals() {
        g_stopRequested = 0;
        m_oldInt = std::signal(SIGINT, RequestStop);
        m_oldTerm = std::signal(SIGTERM, RequestStop);
        // A reader that goes away (| head) ends the watch through the failed
        // write, not by killing the process with the server it may have
        // started.
        m_oldPipe = std::signal(SIGPIPE, SIG_IGN);
    }
    ~StopSignals() {
        std::signal(SIGINT, m_oldInt);
        std::signal(SIGTERM, m_oldTerm);
        std::signal(SIGPIPE, m_oldPipe);
    }

private:
    void (*m_oldInt)(int);
    void (*m_oldTerm)(int);
    void (*m_oldPipe)(int);
};

// Where the rows go: a file or stdout.
class CsvSink {
public:
    CsvSink(const QString& fileName, Output& out) : m_out(out) {
        if (!fileName.isEmpty()) {
            m_file.setFileName(fileName);
            if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
                throw CliError(kExitUsage, QStringLiteral("Error: Cannot create file \"%1\". %2")
                                               .arg(fileName, m_file.errorString()));
            }
        }
    }
    // False when the file could not be written (a full disk) or the reader
    // of stdout has gone (ReaderGone()).
    bool Write(const QByteArray& bytes) {
        if (!m_file.isOpen()) {
            errno = 0;
            m_out.Raw(bytes);
            if (std::ferror(m_out.Stream()) != 0) {
                m_readerGone = errno == EPIPE;
                return false;
            }
            return true;
        }
        return m_file.write(bytes) == bytes.size() && m_file.flush();
    }
    QString ErrorString() const {
        return m_file.isOpen() ? m_file.errorString()
                               : QString::fromLocal8Bit(std::strerror(errno));
    }
    bool ReaderGone() const { return m_readerGone; }

private:
    Output& m_out;
    bool m_readerGone = false;
    QFile m_file;
};

class Watcher {
public:
    Watcher(TKIDuxlaneControl* control, const QStringList& names)
        : m_control(control), m_names(names), m_values(static_cast<size_t>(names.size())) {}

    ~Watcher() { Stop(); }

    void Start() {
        for (const QString& name : m_names) {
            TKIItem* item = m_control->AcquireItem(name);
            m_items.push_back(item);
            // The same item named twice fills both columns.
            m_columns.emplace(item, std::vector<int>())
                .first->second.push_back(static_cast<int>(m_items.size()) - 1);
        }
        for (TKIItem* item : m_items) {
            item->Subscribe(TKIItemEvent(this, &Watcher::ValueChanged));
        }
    }

    void Stop() {
        for (TKIItem* item : m_items) {
            item->Unsubscribe(TKIItemEvent(this, &Watcher::ValueChanged));
            m_control->ReleaseItem(item->Name());
        }
        m_items.clear();
        m_columns.clear();
    }

    QByteArray Header() const {
        QString line = QStringLiteral("time");
        for (const QString& name : m_names) {
            line += QLatin1Char(',') + CsvField(name);
        }
        return (line + QLatin1Char('\n')).toUtf8();
    }

    // The row of the moment, or nothing when no value changed since the last
    // one or the clock has not moved on a millisecond.
    QByteArray TakeRow() {
        if (!m_changed) {
            return QByteArray();
        }
        const QDateTime now = QDateTime::currentDateTimeUtc();
        const qint64 ms = now.toMSecsSinceEpoch();
        if (ms <= m_lastRowMs) {
            return QByteArray();
        }
        m_lastRowMs = ms;
        m_changed = false;
        QByteArray row = now.toString(Qt::ISODateWithMs).toLatin1();
        for (const QString& value : m_values) {
            row += ',';
            row += CsvField(value).toUtf8();
        }
        row += '\n';
        ++m_rows;
        return row;
    }

    qint64 Rows() const { return m_rows; }
    qint64 Received() const { return m_received; }

private:
    void ValueChanged(TKIItem* item) {
        const auto found = m_columns.find(item);
        if (found == m_columns.end()) {
            return;
        }
        const QString value = item->Value().toString();
        for (const int column : found->second) {
            m_values[static_cast<size_t>(column)] = value;
        }
        ++m_received;
        m_changed = true;
    }

    TKIDuxlaneControl* m_control;
    QStringList m_names;
    std::vector<QString> m_values;
    std::vector<TKIItem*> m_items;
    std::unordered_map<TKIItem*, std::vector<int>> m_columns;
    bool m_changed = false;
    qint64 m_lastRowMs = 0;
    qint64 m_rows = 0;
    qint64 m_received = 0;
};

} // namespace

int RunWatch(const Invocation& invocation, CliSession& session, Output& out) {
    CsvSink sink(invocation.output, out);
    TKIDuxlaneControl* control = session.Control(invocation.arguments[0]);
    const QStringList names = invocation.arguments.mid(1);
    StopSignals stopSignals;
    Watcher watcher(control, names);
    const qsizetype messagesBefore = session.DdeMessages().size();
    try {
        watcher.Start();
    } catch (const Exception& error) {
        RaiseIfUnreachable(error);
        throw CliError(kExitDifference, QStringLiteral("Error: ") + error.message());
    }
    if (!sink.Write(watcher.Header())) {
        throw CliError(kExitDifference,
                       QStringLiteral("Error: Cannot write the CSV. %1").arg(sink.ErrorString()));
    }

    bool writeFailed = false;
    QTimer rowTimer;
    QObject::connect(&rowTimer, &QTimer::timeout, [&] {
        const QByteArray row = watcher.TakeRow();
        if (!row.isEmpty() && !sink.Write(row)) {
            writeFailed = true;
        }
    });
    rowTimer.start(invocation.intervalMs);

    QElapsedTimer clock;
    clock.start();
    const qint64 durationMs = static_cast<qint64>(invocation.durationS * 1000.0);
    session.WaitUntil(
        [&] {
            return g_stopRequested != 0 || writeFailed ||
                   (durationMs > 0 && clock.elapsed() >= durationMs);
        },
        durationMs > 0 ? static_cast<int>(std::min<qint64>(durationMs + 1000, INT_MAX)) : INT_MAX);
    rowTimer.stop();
    // The values that came in since the last row are not lost.
    const QByteArray last = watcher.TakeRow();
    if (!last.isEmpty() && !sink.Write(last)) {
        writeFailed = true;
    }
    watcher.Stop();
    if (sink.ReaderGone()) {
        return kExitOk; // whoever read the rows has all they wanted
    }
    Message(QStringLiteral("watch: %1 rows, %2 values received in %3 s")
                .arg(watcher.Rows())
                .arg(watcher.Received())
                .arg(clock.elapsed() / 1000.0, 0, 'f', 1));
    if (writeFailed) {
        throw CliError(kExitDifference,
                       QStringLiteral("Error: Cannot write the CSV. %1").arg(sink.ErrorString()));
    }
    if (session.Lost()) {
        return kExitUnreachable;
    }
    for (qsizetype i = messagesBefore; i < session.DdeMessages().size(); ++i) {
        if (session.DdeMessages()[i].startsWith(
                TServer::DdeErrorText(QStringLiteral("Start Advise")))) {
            return kExitDifference; // an item without a hot link
        }
    }
    return kExitOk;
}

} // namespace orvane::cli
