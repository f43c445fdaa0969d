#include "platform/TextCodec.h"

#include <array>

#include <QIODevice>
#include <QLocale>
#include <QStringList>

namespace orvane {

namespace {

// Code points of the bytes 0x80 to 0x9F; zero marks the five unused bytes,
// which map to the C1 control of the same number.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,      // 88-8F
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178, // 98-9F
};

char16_t decodeByte(unsigned char byte) {
    if (byte < 0x80 || byte > 0x9F) {
        return byte;
    }
    const char16_t mapped = kHighControls[byte - 0x80];
    return mapped != 0 ? mapped : byte;
}

char encodeUnit(char16_t unit) {
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) {
        return static_cast<char>(unit);
    }
    for (std::size_t i = 0; i < kHighControls.size(); ++i) {
        const char16_t mapped = kHighControls[i];
        if (mapped == unit || (mapped == 0 && unit == 0x80 + i)) {
            return static_cast<char>(0x80 + i);
        }
    }
    return '?';
}

} // namespace

QByteArray toWindows1252(QStringView text) {
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            ++i; // one character, one '?'
            out.append('?');
            continue;
        }
        out.append(encodeUnit(c.unicode()));
    }
    return out;
}

QString fromWindows1252(const char* data, qsizetype size) {
    QString out(size, Qt::Uninitialized);
    QChar* dst = out.data();
    for (qsizetype i = 0; i < size; ++i) {
        dst[i] = QChar(decodeByte(static_cast<unsigned char>(data[i])));
    }
    return out;
}

QString fromWindows1252(const QByteArray& bytes) {
    return fromWindows1252(bytes.constData(), bytes.size());
}

namespace {
QString lineOf(QByteArray bytes) {
    if (bytes.endsWith('\n')) {
        bytes.chop(1);
    }
    if (bytes.endsWith('\r')) {
        bytes.chop(1);
    }
    return fromWindows1252(bytes);
}
} // namespace

bool readTextLine(QIODevice& device, QString& line) {
    if (device.atEnd()) {
        return false;
    }
    const QByteArray bytes = device.readLine();
    if (bytes.isEmpty()) {
        return false;
    }
    line = lineOf(bytes);
    return true;
}

QStringList splitTextLines(const QByteArray& bytes) {
    QStringList lines;
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype end = bytes.indexOf('\n', start);
        if (end < 0) {
            end = bytes.size();
        } else {
            ++end;
        }
        lines.append(lineOf(bytes.mid(start, end - start)));
        start = end;
    }
    return lines;
}

bool writeTextLine(QIODevice& device, QStringView line) {
    QByteArray bytes = toWindows1252(line);
    bytes.append("\r\n", 2);
    return device.write(bytes) == bytes.size();
}

QChar systemDecimalSeparator() {
    const QString point = QLocale().decimalPoint();
    return point.isEmpty() ? QChar('.') : point.front();
}

} // namespace orvane
