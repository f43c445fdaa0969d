// How fast an application goes into a control: a 1 MiB application script
// downloaded through the driver and its progress dialog into a control of the
// real simulated server (command latency switched off, so that the figures
// show the program and the DDE link, not a simulated delay).
//
// A download is a chain of commands, each an execute and a wait for its
// result, so it cannot be faster than its round trips. The same run measures
// the DDE link's request round trip (the yardstick of the DDE benchmark,
// shared with it), a request to the simulated control, and one bare
// WriteProgramMemory of the same size, so that the time per write of the
// download can be compared with each.
//
// Figures (last lines of the output):
//   download.bytes_per_s                 1 MiB over the whole download
//   download.write_us                    download time per write statement
//   download.bare_write_us               median WriteProgramMemory alone
//   download.control_request_us          median request to the control (Product ID)
//   dde.request_roundtrip_us             median request round trip of the DDE link
//   download.write_to_roundtrip_ratio    write_us / dde.request_roundtrip_us

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include "BenchServer.h"
#include "DdeRoundTrip.h"
#include "Median.h"
#include "download/KIControlAppDownload.h"
#include "model/KIDuxlaneControl.h"
#include "model/KIServer.h"
#include "platform/DialogService.h"

using namespace orvane;
using orvane::bench::WaitUntil;

namespace {

constexpr int kImageBytes = 1024 * 1024;
constexpr int kWriteBytes = 1024;
constexpr int kBytesPerLine = 32;
constexpr int kRoundTrips = 300;
constexpr int kBareWrites = 100;
const char* const kTopic = "BENCH";

const QByteArray kNetwork = R"(duxlane-network 1
name "Download bench"

control "BENCH"
    product-id "BENCH-1"
    erase-time 0
    program-block 0x00000000 0x00100000
    item "Count" tunable int16 min -100 max 100 value 5
end
)";

QByteArray Hex8(std::uint32_t value) {
    return QByteArray::number(value, 16).rightJustified(8, '0').toUpper();
}

QByteArray Script() {
    QByteArray text = "product BENCH-1\r\nbegin 00000000 " + Hex8(kImageBytes) + "\r\n";
    for (int address = 0; address < kImageBytes; address += kWriteBytes) {
        text += "write " + Hex8(static_cast<std::uint32_t>(address)) + ' ' +
                QByteArray::number(kWriteBytes);
        for (int i = 0; i < kWriteBytes; ++i) {
            text += (i % kBytesPerLine == 0) ? "\r\n" : " ";
            text += QByteArray::number((address + i * 7) & 0xFF, 16).rightJustified(2, '0');
        }
        text += "\r\n";
    }
    return text + "end\r\n";
}

// Says Yes to the I/O lock and reports anything else.
class Engineer : public DialogService {
public:
    TModalResult messageBox(TMsgDlgType, const QString& text, TMsgDlgButtons buttons) override {
        if (buttons == mbYesNo) {
            return mrYes;
        }
        std::fprintf(stderr, "download_bench: unexpected message: %s\n", qPrintable(text));
        ++unexpected;
        return closeResultOf(buttons);
    }
    std::optional<QString> openFile(const FileDialogRequest&) override { return std::nullopt; }
    std::optional<QString> saveFile(const FileDialogRequest&) override { return std::nullopt; }
    int unexpected = 0;
};

int Fail(const char* what) {
    std::fprintf(stderr, "download_bench: %s\n", what);
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir root;
    bench::UsePrivateRunTimeFolders(root.path());
    qputenv("DUXLANE_NO_DEFAULT_NETWORK", "1");
    qputenv("DUXLANE_COMMAND_LATENCY_MS", "0");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    Engineer engineer;
    DialogServiceScope dialogs(&engineer);

    const QString network = root.filePath("download.net");
    const QString script = root.filePath("image.scp");
    for (const auto& [path, bytes] : {std::pair{network, kNetwork}, std::pair{script, Script()}}) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
            return Fail("cannot write the bench files");
        }
    }
    const char* error = nullptr;
    auto kiServer = bench::ConnectToServer(QString::fromUtf8(ORVANE_SERVER_EXE), network,
                                           QString::fromLatin1(kTopic), &error);
    if (!kiServer) {
        return Fail(error);
    }
    auto control = std::make_unique<TKIDuxlaneControl>();
    control->SetServer(kiServer.get());
    control->SetIdentifier(QString::fromLatin1(kTopic));
    if (!WaitUntil([&] { return control->Active(); }, 30000)) {
        return Fail("the control did not connect");
    }

    // The link's yardstick first, while nothing else runs on it.
    const double linkRoundTrip = bench::MeasureRequestRoundTripUs();
    if (linkRoundTrip <= 0) {
        return Fail("the request round trip could not be measured");
    }
    std::vector<double> roundTrips;
    std::vector<double> bareWrites;
    double downloadMs = 0;
    TKProgressDialog::Outcome outcome = TKProgressDialog::Outcome::Running;
    try {
        for (int i = 0; i < kRoundTrips; ++i) {
            QElapsedTimer timer;
            timer.start();
            control->ProductID();
            roundTrips.push_back(timer.nsecsElapsed() / 1e3);
        }

        TKIControlAppDownload driver;
        driver.SetDevice(control.get());
        QElapsedTimer timer;
        timer.start();
        driver.Download(script);
        downloadMs = timer.nsecsElapsed() / 1e6;
        outcome = driver.GetOutcome();

        // The same writes without script and dialog.
        std::vector<std::uint8_t> block(kWriteBytes, 0x5A);
        control->BeginProgrammingMode(0, kImageBytes);
        for (int i = 0; i < kBareWrites; ++i) {
            QElapsedTimer write;
            write.start();
            control->WriteProgramMemory(static_cast<std::uint32_t>(i * kWriteBytes), block.data(),
                                        kWriteBytes);
            bareWrites.push_back(write.nsecsElapsed() / 1e3);
        }
        control->EndProgrammingMode();
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "download_bench: %s\n", failure.what());
        return 1;
    }
    if (outcome != TKProgressDialog::Outcome::Completed || engineer.unexpected != 0) {
        return Fail("the download did not complete");
    }
    control->SetServer(nullptr);
    control.reset();
    // The server program was started for this run; it must not outlive it
    // (it would hold the output pipe open).
    kiServer->ShutDown();
    kiServer.reset();

    const int writes = kImageBytes / kWriteBytes;
    const double writeUs = downloadMs * 1e3 / writes;
    const double controlRequest = bench::Median(roundTrips);
    std::printf("download: %d bytes in %d writes of %d bytes, %.1f ms\n", kImageBytes, writes,
                kWriteBytes, downloadMs);
    std::printf("download.bytes_per_s: %.0f B/s\n", kImageBytes / (downloadMs / 1e3));
    std::printf("download.write_us: %.1f us\n", writeUs);
    std::printf("download.bare_write_us: %.1f us\n", bench::Median(bareWrites));
    std::printf("download.control_request_us: %.1f us\n", controlRequest);
    std::printf("dde.request_roundtrip_us: %.2f us\n", linkRoundTrip);
    std::printf("download.write_to_roundtrip_ratio: %.2f x\n", writeUs / linkRoundTrip);
    return 0;
}
