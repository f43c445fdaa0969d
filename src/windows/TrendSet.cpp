#include "windows/TrendSet.h"

#include <algorithm>

#include <QFile>
#include <QSaveFile>

#include "platform/TextCodec.h"

namespace orvane {

namespace {

const QString kScale = QStringLiteral("Scale");
const QString kTimeWindow = QStringLiteral("Time Window");
const QString kVariable = QStringLiteral("Variable");
const QString kShared = QStringLiteral("Shared");
const QString kPerTrace = QStringLiteral("Per Trace");
const QString kAll = QStringLiteral("All");

bool same(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

TTrendSetReadResult refuse(int line, const QString& reason) {
    TTrendSetReadResult result;
    result.line = line;
    result.error = reason;
    return result;
}

QString windowText(std::int64_t ms) {
    return ms == 0 ? kAll : QString::number(ms / 1000);
}

QString allowedWindows() {
    QStringList texts;
    for (std::int64_t ms : TTrendSet::kTimeWindowsMs) {
        texts << windowText(ms);
    }
    return texts.join(QStringLiteral(", "));
}

} // namespace

QString TTrendSetReadResult::Message() const {
    return line > 0 ? QStringLiteral("Line %1: %2").arg(line).arg(error) : error;
}

TTrendSetReadResult ParseTrendSet(const QByteArray& bytes) {
    const QStringList lines = splitTextLines(bytes);
    if (lines.isEmpty() || lines.front() != QLatin1String(kTrendSetMagic)) {
        return refuse(1, QStringLiteral("not a trend set (the first line must read \"%1\").")
                             .arg(QLatin1String(kTrendSetMagic)));
    }
    TTrendSet set;
    bool haveScale = false;
    bool haveWindow = false;
    for (int i = 1; i < lines.size(); ++i) {
        const int number = i + 1;
        const QString& line = lines[i];
        if (line.trimmed().isEmpty()) {
            continue;
        }
        const QStringList fields = line.split(QLatin1Char('\t'));
        const QString keyword = fields.front().trimmed();
        if (same(keyword, kVariable)) {
            if (fields.size() != 3 || fields[1].trimmed().isEmpty() ||
                fields[2].trimmed().isEmpty()) {
                return refuse(number, QStringLiteral("a variable needs a control and an item name, "
                                                     "separated by TABs."));
            }
            set.variables.push_back({fields[1].trimmed(), fields[2]});
        } else if (same(keyword, kScale)) {
            if (haveScale) {
                return refuse(number, QStringLiteral("the scale is given twice."));
            }
            const QString value = fields.size() == 2 ? fields[1].trimmed() : QString();
            if (same(value, kShared)) {
                set.perTraceScale = false;
            } else if (same(value, kPerTrace)) {
                set.perTraceScale = true;
            } else {
                return refuse(
                    number,
                    QStringLiteral("the scale must be \"%1\" or \"%2\".").arg(kShared, kPerTrace));
            }
            haveScale = true;
        } else if (same(keyword, kTimeWindow)) {
            if (haveWindow) {
                return refuse(number, QStringLiteral("the time window is given twice."));
            }
            const QString value = fields.size() == 2 ? fields[1].trimmed() : QString();
            const auto* end = std::end(TTrendSet::kTimeWindowsMs);
            const auto* found =
                std::find_if(std::begin(TTrendSet::kTimeWindowsMs), end,
                             [&value](std::int64_t ms) { return same(value, windowText(ms)); });
            if (found == end) {
                return refuse(number, QStringLiteral("the time window must be one of %1 (seconds).")
                                          .arg(allowedWindows()));
            }
            set.timeWindowMs = *found;
            haveWindow = true;
        } else {
            return refuse(number, QStringLiteral("unknown keyword \"%1\".").arg(keyword));
        }
    }
    if (set.variables.empty()) {
        return refuse(0, QStringLiteral("The trend set holds no variables."));
    }
    TTrendSetReadResult result;
    result.ok = true;
    result.set = std::move(set);
    return result;
}

TTrendSetReadResult ReadTrendSetFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return refuse(0, QStringLiteral("The file could not be read: %1").arg(file.errorString()));
    }
    return ParseTrendSet(file.readAll());
}

QByteArray FormatTrendSet(const TTrendSet& set) {
    // Names never hold line breaks or TABs the control would know of; one
    // pasted by hand must not split a record across lines.
    const auto field = [](QString text) {
        text.replace(QLatin1Char('\r'), QLatin1Char(' '));
        text.replace(QLatin1Char('\n'), QLatin1Char(' '));
        text.replace(QLatin1Char('\t'), QLatin1Char(' '));
        return text;
    };
    QStringList lines;
    lines << QLatin1String(kTrendSetMagic);
    lines << kScale + QLatin1Char('\t') + (set.perTraceScale ? kPerTrace : kShared);
    // A window the reader would refuse is not written: the default stands in.
    const bool known =
        std::find(std::begin(TTrendSet::kTimeWindowsMs), std::end(TTrendSet::kTimeWindowsMs),
                  set.timeWindowMs) != std::end(TTrendSet::kTimeWindowsMs);
    lines << kTimeWindow + QLatin1Char('\t') +
                 windowText(known ? set.timeWindowMs : TTrendSet::kDefaultTimeWindowMs);
    for (const TTrendSetVariable& v : set.variables) {
        lines << kVariable + QLatin1Char('\t') + field(v.control) + QLatin1Char('\t') +
                     field(v.itemName);
    }
    QByteArray bytes;
    for (const QString& line : lines) {
        bytes += toWindows1252(line);
        bytes += "\r\n";
    }
    return bytes;
}

bool WriteTrendSetFile(const QString& path, const TTrendSet& set, QString* error) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(FormatTrendSet(set)) < 0 || !file.commit()) {
        if (error) {
            *error = file.errorString();
        }
        return false;
    }
    return true;
}

} // namespace orvane
