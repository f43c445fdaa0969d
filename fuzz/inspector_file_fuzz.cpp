// Reads arbitrary bytes as an inspector file: the window settings, then every
// record up to the end or the first format error. Any input must end in a
// record kind or the conversion error, never in a crash or a hang.

#include <cstdint>
#include <cstdlib>

#include <QBuffer>
#include <QByteArray>

#include "inspector/InspectorFile.h"
#include "platform/Exception.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QBuffer buffer;
    buffer.setData(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    buffer.open(QIODevice::ReadOnly);

    orvane::TInspectorFile file;
    file.OpenDevice(&buffer);
    orvane::TInspectorWindowSettings settings;
    try {
        file.ReadWindowSettings(settings);
    } catch (const orvane::Exception&) {
        return 0;
    }
    // Every record consumes at least one line, so the reader ends within
    // size + 1 records.
    for (std::size_t records = 0;; ++records) {
        if (records > size + 1) {
            std::abort();
        }
        const auto kind = file.Next();
        if (kind == orvane::TInspectorFile::RecordEnd ||
            kind == orvane::TInspectorFile::RecordError) {
            break;
        }
        if (kind == orvane::TInspectorFile::RecordSheet &&
            file.SheetName().size() > orvane::kMaxSheetNameLength) {
            std::abort();
        }
        if (kind == orvane::TInspectorFile::RecordVariable &&
            (file.DeviceName().isEmpty() || file.ItemName().isEmpty())) {
            std::abort();
        }
    }
    return 0;
}
