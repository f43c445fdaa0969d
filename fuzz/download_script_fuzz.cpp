// Any bytes as an application script: the reader must end in a complete
// statement list or an error record, never a crash, a hang or an allocation
// larger than the input warrants.

#include "download/KDownloadScript.h"

#include <QBuffer>
#include <QByteArray>
#include <QLoggingCategory>

#include <cstdint>
#include <cstdlib>

using namespace orvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Every refused input would log its error; keep the fuzzer's output readable.
    static const bool quiet = [] {
        QLoggingCategory::setFilterRules(QStringLiteral("orvane.download=false"));
        return true;
    }();
    (void)quiet;
    QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);

    TKDownloadScript script;
    try {
        script.Load(buffer, QStringLiteral("fuzz.scp"));
        if (script.Error() != nullptr || (size == 0)) {
            std::abort();
        }
    } catch (const Exception&) {
        const TKDownloadScriptError* error = script.Error();
        if (error == nullptr || error->LineNumber < 0 || error->Message.isEmpty()) {
            std::abort();
        }
    }

    // Every statement read is whole: a write holds exactly its count of bytes.
    int walked = 0;
    std::size_t dataBytes = 0;
    while (TKStatement* statement = script.Next()) {
        ++walked;
        if (auto* write = dynamic_cast<TKWriteStatement*>(statement)) {
            if (write->Count() < 0 ||
                write->Data().size() != static_cast<std::size_t>(write->Count())) {
                std::abort();
            }
            dataBytes += write->Data().size();
        }
    }
    // Each data byte takes at least two characters of the input.
    if (walked != script.Count() || script.Next() != nullptr || dataBytes * 2 > size) {
        std::abort();
    }
    return 0;
}
