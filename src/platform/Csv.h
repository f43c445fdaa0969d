#pragma once

// Comma-separated values as the program writes them (recordings, watch
// output): one quoting rule, so every file reads back in a spreadsheet.

#include <QString>

namespace orvane {

// A CSV field: quoted (with doubled quotes) when it holds a comma, a quote, a
// line break or leading or trailing blanks.
QString CsvField(const QString& text);

} // namespace orvane
