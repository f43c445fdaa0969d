// Loading an application script the size of a large image: 4 MiB written in
// 256-byte write statements, each running on over eight lines of 32 bytes, as
// a script generator lays them out. Prints the median of several loads.

#include "download/KDownloadScript.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

namespace {

constexpr int kImageBytes = 4 * 1024 * 1024;
constexpr int kBytesPerWrite = 256;
constexpr int kBytesPerLine = 32;
constexpr int kRuns = 7;

QByteArray hex8(int value) {
    return QByteArray::number(value, 16).rightJustified(8, '0').toUpper();
}

QByteArray makeScript() {
    static const char digits[] = "0123456789ABCDEF";
    std::mt19937 random(42);
    QByteArray text;
    text.reserve(kImageBytes * 3 + kImageBytes / 8);
    text += "// 4 MiB image\r\nproduct BENCH-4M\r\n";
    text += "begin 00000000 " + hex8(kImageBytes) + "\r\n";
    for (int address = 0; address < kImageBytes; address += kBytesPerWrite) {
        text += "write " + hex8(address) + ' ' + QByteArray::number(kBytesPerWrite);
        for (int i = 0; i < kBytesPerWrite; ++i) {
            if (i % kBytesPerLine == 0 && i != 0) {
                text += "\r\n";
            } else {
                text += ' ';
            }
            const unsigned byte = random() & 0xFF;
            text += digits[byte >> 4];
            text += digits[byte & 0xF];
        }
        text += "\r\n";
    }
    text += "end\r\n";
    return text;
}

} // namespace

int main() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("image.scp"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(makeScript()) < 0) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
        std::printf("script file: %lld bytes\n", static_cast<long long>(file.size()));
    }

    std::vector<double> times;
    for (int run = 0; run < kRuns; ++run) {
        const auto start = std::chrono::steady_clock::now();
        orvane::TKDownloadScript script;
        script.Load(path);
        const auto stop = std::chrono::steady_clock::now();
        if (script.Count() != kImageBytes / kBytesPerWrite + 3) {
            std::fprintf(stderr, "unexpected statement count %d\n", script.Count());
            return 1;
        }
        times.push_back(std::chrono::duration<double, std::milli>(stop - start).count());
    }
    std::sort(times.begin(), times.end());
    std::printf("loads: %d, fastest %.1f ms, slowest %.1f ms\n", kRuns, times.front(),
                times.back());
    std::printf("script.load_4mib_ms: %.1f ms\n", times[times.size() / 2]);
    return 0;
}
