#include "cli/CliText.h"

#include <cmath>

#include <QLocale>

#include "cli/CliRun.h"

namespace orvane::cli {

QString ClassName(ItemClassType type) {
    switch (type) {
    case vctMonitor:
        return QStringLiteral("monitor");
    case vctTunable:
        return QStringLiteral("tunable");
    case vctConfigure:
        return QStringLiteral("configure");
    case vctUnassigned:
        break;
    }
    return QStringLiteral("unassigned");
}

QString DataTypeName(ItemDataType type) {
    switch (type) {
    case vdtString:
        return QStringLiteral("string");
    case vdtBoolean:
        return QStringLiteral("boolean");
    case vdtInteger:
        return QStringLiteral("integer");
    case vdtReal:
        return QStringLiteral("real");
    case vdtTime:
        return QStringLiteral("time");
    case vdtTimer:
        return QStringLiteral("timer");
    case vdtUnassigned:
        break;
    }
    return QStringLiteral("unassigned");
}

QString TextTable::Text() const {
    std::vector<qsizetype> widths(static_cast<size_t>(m_header.size()), 0);
    const auto measure = [&widths](const QStringList& row) {
        for (qsizetype i = 0; i < row.size() && i < static_cast<qsizetype>(widths.size()); ++i) {
            widths[static_cast<size_t>(i)] =
                std::max(widths[static_cast<size_t>(i)], row[i].size());
        }
    };
    measure(m_header);
    for (const QStringList& row : m_rows) {
        measure(row);
    }
    QString text;
    const auto print = [&](const QStringList& row) {
        QString line;
        for (qsizetype i = 0; i < static_cast<qsizetype>(widths.size()); ++i) {
            const QString cell = i < row.size() ? row[i] : QString();
            line += i + 1 < static_cast<qsizetype>(widths.size())
                        ? cell.leftJustified(widths[static_cast<size_t>(i)] + 2)
                        : cell;
        }
        while (line.endsWith(QLatin1Char(' '))) {
            line.chop(1);
        }
        text += line + QLatin1Char('\n');
    };
    print(m_header);
    for (const QStringList& row : m_rows) {
        print(row);
    }
    return text;
}

void TextTable::Print(Output& out) const {
    out.Raw(Text().toUtf8());
}

namespace {

// A real value in either decimal notation (point or comma, no groups), or
// nothing.
bool ParseReal(const QString& text, double* value, int* decimals) {
    QString normal = text.trimmed();
    const qsizetype comma = normal.indexOf(QLatin1Char(','));
    if (comma >= 0) {
        if (normal.contains(QLatin1Char('.')) || normal.indexOf(QLatin1Char(','), comma + 1) >= 0) {
            return false;
        }
        normal[comma] = QLatin1Char('.');
    }
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator);
    bool ok = false;
    *value = c.toDouble(normal, &ok);
    if (!ok || !std::isfinite(*value)) {
        return false;
    }
    // Digits after the separator, up to an exponent.
    const qsizetype point = normal.indexOf(QLatin1Char('.'));
    qsizetype end = normal.indexOf(QLatin1Char('e'), 0, Qt::CaseInsensitive);
    if (end < 0) {
        end = normal.size();
    }
    int places = point < 0 || point > end ? 0 : static_cast<int>(end - point - 1);
    if (end < normal.size()) {
        // 1.5E-3 has its last digit at 10^-4.
        places -= normal.mid(end + 1).toInt();
    }
    *decimals = places;
    return true;
}

} // namespace

bool SettingsValuesMatch(const QString& fileValue, const QString& controlValue, ItemDataType type) {
    if (fileValue == controlValue) {
        return true;
    }
    if (type != vdtReal) {
        return false;
    }
    double fileNumber = 0;
    double controlNumber = 0;
    int fileDecimals = 0;
    int controlDecimals = 0;
    if (!ParseReal(fileValue, &fileNumber, &fileDecimals) ||
        !ParseReal(controlValue, &controlNumber, &controlDecimals)) {
        return false;
    }
    // Half a unit of the file's last digit; a little more for the binary
    // representation of both numbers.
    const double tolerance = 0.5 * std::pow(10.0, -fileDecimals);
    const double slack = 1e-12 * std::max({1.0, std::fabs(fileNumber), std::fabs(controlNumber)});
    return std::fabs(fileNumber - controlNumber) <= tolerance + slack;
}

QString ControlFileName(const QString& identifier, QStringList& taken) {
    static const QString kForbidden = QStringLiteral("/\\:*?\"<>|");
    QString name;
    name.reserve(identifier.size());
    for (const QChar c : identifier) {
        name += (c.unicode() < 0x20 || c.unicode() == 0x7f || kForbidden.contains(c))
                    ? QLatin1Char('_')
                    : c;
    }
    bool onlyDots = true;
    for (const QChar c : name) {
        onlyDots = onlyDots && c == QLatin1Char('.');
    }
    if (onlyDots) {
        name.prepend(QLatin1Char('_'));
    }
    QString unique = name;
    for (int n = 2; taken.contains(unique, Qt::CaseInsensitive); ++n) {
        unique = name + QStringLiteral("~%1").arg(n);
    }
    taken.append(unique);
    return unique;
}

} // namespace orvane::cli
