#pragma once

// The text of settings files (*.cfg) and settings reports (*.txt): one line
// per item, the item's name, one TAB and the value text, in Windows-1252 with
// CR LF line ends (LF alone is accepted when reading).
//
// Reading accepts a wider form than the program writes: a UTF-8 byte-order
// mark that an editor put before the first line is passed over; empty lines are
// skipped; every other line needs a TAB that is not its first character; the
// value is everything after the first TAB (later TABs belong to it), cut to
// kMaxSettingsValueChars characters; nothing is trimmed, so a line of blanks
// is a syntax error like any other line without a TAB. Lines keep their file
// order, duplicates included.
//
// The report writes real values in fixed-point notation with
// kReportPrecision significant digits and the chosen decimal places; numbers
// whose integer part needs more digits than that are written in scientific
// notation.
//
// All functions are reentrant; the parser reads only from the device it is
// given and never from the file system.

#include <QChar>
#include <QString>
#include <QStringList>

class QIODevice;

namespace orvane {

// The longest value the parser keeps from a line, in characters.
constexpr int kMaxSettingsValueChars = 256;
// Significant digits of a real value in the report.
constexpr int kReportPrecision = 9;
// Decimal places the report accepts; other counts are brought into range.
constexpr int kMaxReportDecimals = 15;

// The names and values of a settings file, index by index.
struct TSettingsLines {
    QStringList names;
    QStringList values;

    qsizetype size() const { return names.size(); }
};

// Appends the lines of a settings file read from `device` (open for reading)
// to `lines`. A line without a TAB, or with the TAB as its first character,
// raises the base exception "Syntax error in configuration file <fileName>;
// line <n>." where n counts every line of the file, empty ones included.
void ParseSettings(QIODevice& device, const QString& fileName, TSettingsLines& lines);

// Why a name and value cannot be saved as one line that reads back the same,
// or an empty text when they can: a name with a TAB, CR or LF, or empty; a
// value with a CR or LF, or longer than kMaxSettingsValueChars; a character
// Windows-1252 cannot carry in either.
QString SettingsLineProblem(const QString& name, const QString& value);

// The line of one item, without the line end: name, TAB, value.
QString SettingsLine(const QString& name, const QString& value);

// The value with its first `from` replaced by `to` (unchanged when it holds
// none).
QString ReplaceFirstSeparator(QString value, QChar from, QChar to);

// A value text as a number, read with the local decimal separator; a text
// written with the foreign one has its first foreign separator taken as the
// local one (as loading does). Group separators are refused. Raises the base
// exception "'<text>' is not a valid floating point value".
double SettingsTextToReal(const QString& text, QChar localSeparator, QChar foreignSeparator);

// A real value as the report writes it: fixed point with kReportPrecision
// significant digits and `decimals` decimal places (brought into 0 ..
// kMaxReportDecimals), the given decimal separator, no group separators, no
// minus sign before a value that rounds to zero. A value whose integer part
// needs more than kReportPrecision digits is written as d.dddE+nn with up to
// kReportPrecision significant digits; infinities and NaN as INF, -INF, NAN.
QString FormatReportReal(double value, int decimals, QChar decimalSeparator);

} // namespace orvane
