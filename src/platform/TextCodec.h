#pragma once

// Text as the program's files and DDE conversations carry it: 8-bit
// Windows-1252 with CR LF line ends (LF alone accepted when reading), and the
// decimal separator of the system's number format.
//
// All functions are reentrant and free of side effects on the input.

#include <QByteArray>
#include <QChar>
#include <QString>
#include <QStringList>
#include <QStringView>

class QIODevice;

namespace orvane {

// Windows-1252 bytes of a text. Characters the code page cannot show become
// '?' (one '?' per character, also for characters outside the BMP).
QByteArray toWindows1252(QStringView text);

// The text of Windows-1252 bytes. The five bytes the code page leaves unused
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the control characters of the same
// number, so that decoding and encoding again gives the same bytes.
QString fromWindows1252(const QByteArray& bytes);
QString fromWindows1252(const char* data, qsizetype size);

// Reads one line of Windows-1252 text: the bytes up to a LF, without the LF
// and without a CR just before it. Returns false at the end of the device
// (nothing left to read). The last line of a file needs no line end.
bool readTextLine(QIODevice& device, QString& line);

// Splits Windows-1252 text into lines as readTextLine does.
QStringList splitTextLines(const QByteArray& bytes);

// Writes a line in Windows-1252 followed by CR LF. Returns false when the
// device refused the bytes.
bool writeTextLine(QIODevice& device, QStringView line);

// The decimal separator of the system's number format: the decimal point of
// the default QLocale (tests switch it with QLocale::setDefault).
QChar systemDecimalSeparator();

} // namespace orvane
