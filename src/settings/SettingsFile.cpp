#include "settings/SettingsFile.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <QIODevice>
#include <QLocale>

#include "platform/Exception.h"
#include "platform/TextCodec.h"

namespace orvane {

namespace {

constexpr QChar kTab = QLatin1Char('\t');

QString syntaxError(const QString& fileName, int line) {
    return QStringLiteral("Syntax error in configuration file %1; line %2.")
        .arg(fileName)
        .arg(line);
}

// Mantissa and exponent of a finite value rounded to kReportPrecision
// significant digits, as printf's %e writes them ("1.23456789e+10").
QByteArray scientificDigits(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*e", kReportPrecision - 1, value);
    return QByteArray(buffer);
}

QString scientific(const QByteArray& digits, QChar separator) {
    const qsizetype e = digits.indexOf('e');
    QByteArray mantissa = digits.left(e);
    if (mantissa.contains('.')) {
        while (mantissa.endsWith('0')) {
            mantissa.chop(1);
        }
        if (mantissa.endsWith('.')) {
            mantissa.chop(1);
        }
    }
    const int exponent = std::atoi(digits.constData() + e + 1);
    QString text = QString::fromLatin1(mantissa);
    text.replace(QLatin1Char('.'), separator);
    text += QStringLiteral("E%1%2")
                .arg(exponent < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                .arg(std::abs(exponent), 2, 10, QLatin1Char('0'));
    return text;
}

bool onlyZeros(const QByteArray& text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return c == '0' || c == '.' || c == '-'; });
}

} // namespace

void ParseSettings(QIODevice& device, const QString& fileName, TSettingsLines& lines) {
    QString line;
    int number = 0;
    while (readTextLine(device, line)) {
        ++number;
        if (number == 1 && line.startsWith(QStringLiteral("\u00EF\u00BB\u00BF"))) {
            // An editor's UTF-8 byte-order mark, read as Windows-1252.
            line.remove(0, 3);
        }
        if (line.isEmpty()) {
            continue;
        }
        const qsizetype tab = line.indexOf(kTab);
        if (tab <= 0) {
            throw Exception(syntaxError(fileName, number));
        }
        lines.names.append(line.left(tab));
        lines.values.append(line.mid(tab + 1, kMaxSettingsValueChars));
    }
}

QString SettingsLineProblem(const QString& name, const QString& value) {
    const auto hasLineBreak = [](const QString& text) {
        return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n'));
    };
    if (name.isEmpty() || name.contains(kTab) || hasLineBreak(name)) {
        return QStringLiteral("its name holds a TAB or a line break");
    }
    if (hasLineBreak(value)) {
        return QStringLiteral("its value holds a line break");
    }
    if (value.size() > kMaxSettingsValueChars) {
        return QStringLiteral("its value is longer than %1 characters").arg(kMaxSettingsValueChars);
    }
    const QString both = name + value;
    if (fromWindows1252(toWindows1252(both)) != both) {
        return QStringLiteral("it holds characters that the file's code page cannot keep");
    }
    return QString();
}

QString SettingsLine(const QString& name, const QString& value) {
    QString line;
    line.reserve(name.size() + 1 + value.size());
    line += name;
    line += kTab;
    line += value;
    return line;
}

QString ReplaceFirstSeparator(QString value, QChar from, QChar to) {
    const qsizetype at = value.indexOf(from);
    if (at >= 0) {
        value[at] = to;
    }
    return value;
}

double SettingsTextToReal(const QString& text, QChar localSeparator, QChar foreignSeparator) {
    // The local separator becomes the C locale's point once the first foreign
    // one has been taken as local; a second separator of either kind then
    // makes the text invalid instead of being read as a group separator.
    QString normal = ReplaceFirstSeparator(text, foreignSeparator, localSeparator);
    if (localSeparator != QLatin1Char('.')) {
        if (normal.contains(QLatin1Char('.'))) {
            normal.clear();
        }
        normal.replace(localSeparator, QLatin1Char('.'));
    }
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator);
    bool ok = false;
    const double value = normal.isEmpty() ? 0.0 : c.toDouble(normal.trimmed(), &ok);
    if (!ok) {
        throw Exception(QStringLiteral("'%1' is not a valid floating point value").arg(text));
    }
    return value;
}

QString FormatReportReal(double value, int decimals, QChar decimalSeparator) {
    if (std::isnan(value)) {
        return QStringLiteral("NAN");
    }
    if (std::isinf(value)) {
        return value > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");
    }
    decimals = std::clamp(decimals, 0, kMaxReportDecimals);

    const QByteArray digits = scientificDigits(value);
    const int exponent = value == 0 ? 0 : std::atoi(digits.constData() + digits.indexOf('e') + 1);
    if (exponent + 1 > kReportPrecision) {
        return scientific(digits, decimalSeparator);
    }
    // Round once, at whichever comes first: the last significant digit or the
    // last decimal place; the places beyond the significant digits are zeros.
    const int places = std::min(decimals, kReportPrecision - 1 - exponent);
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "%.*f", places, value);
    QByteArray fixed(buffer);
    if (fixed.startsWith('-') && onlyZeros(fixed)) {
        fixed.remove(0, 1);
    }
    if (decimals > places) {
        if (places == 0) {
            fixed += '.';
        }
        fixed += QByteArray(decimals - places, '0');
    }
    QString text = QString::fromLatin1(fixed);
    text.replace(QLatin1Char('.'), decimalSeparator);
    return text;
}

} // namespace orvane
