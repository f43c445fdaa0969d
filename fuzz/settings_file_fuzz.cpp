// Reads arbitrary bytes as a settings file. Any input must end in the lines
// or a syntax error, never in a crash or a hang, and the lines must keep the
// parser's promises: a name never empty and without a TAB, a value of at most
// 256 characters.

#include <cstdint>
#include <cstdlib>

#include <QBuffer>
#include <QByteArray>

#include "platform/Exception.h"
#include "settings/SettingsFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);

    orvane::TSettingsLines lines;
    try {
        orvane::ParseSettings(buffer, QStringLiteral("fuzz.cfg"), lines);
    } catch (const orvane::Exception& error) {
        if (!error.message().startsWith(
                QStringLiteral("Syntax error in configuration file fuzz.cfg; line "))) {
            std::abort();
        }
        return 0;
    }
    if (lines.names.size() != lines.values.size() ||
        lines.names.size() > static_cast<qsizetype>(size)) {
        std::abort();
    }
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines.names[i].isEmpty() || lines.names[i].contains(QLatin1Char('\t')) ||
            lines.values[i].size() > orvane::kMaxSettingsValueChars) {
            std::abort();
        }
    }
    return 0;
}
