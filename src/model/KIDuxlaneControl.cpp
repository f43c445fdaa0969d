#include "model/KIDuxlaneControl.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>

#include <QThread>

#include "ddelink/DdeError.h"
#include "ddelink/KIDdeClientConv.h"
#include "ddelink/ServerInterface.h"
#include "ddelink/SyncRequest.h"
#include "ddelink/Synchronizer.h"
#include "model/KIDuxlaneItem.h"
#include "model/ModelLog.h"
#include "platform/DialogService.h"
#include "platform/TextCodec.h"

namespace orvane {

namespace {

const QString kActiveText = QStringLiteral("Active.");

constexpr qsizetype kWriteProgramMemoryCommandLength =
    qsizetype(std::char_traits<char>::length(duxlane::kWriteProgramMemoryCommand));
constexpr qsizetype kMaxAddressDigits = 10; // an unsigned 32-bit number
constexpr qsizetype kMaxByteFieldChars = 4; // a separator and up to three digits
constexpr qsizetype kLoggedCommandChars = 60;

// Every byte value in decimal without leading zeros, worked out once.
struct ByteDigits {
    char text[3];
    std::uint8_t length;
};
struct ByteDigitsTable {
    ByteDigits entries[256];
};
constexpr ByteDigitsTable MakeByteDigits() {
    ByteDigitsTable table{};
    for (unsigned value = 0; value < 256; ++value) {
        ByteDigits& digits = table.entries[value];
        if (value >= 100) {
            digits.text[digits.length++] = char('0' + value / 100);
        }
        if (value >= 10) {
            digits.text[digits.length++] = char('0' + value / 10 % 10);
        }
        digits.text[digits.length++] = char('0' + value % 10);
    }
    return table;
}
constexpr ByteDigitsTable kByteDigits = MakeByteDigits();

// What each command sends, waits for and shows.
struct CommandInfo {
    const char* executeName;   // also the stem of the result item
    const char* operation;     // the operation named in failure texts
    const char* statusText;    // shown in the status panel before; may be null
    const char* notResponding; // the message when no result arrives
};

const CommandInfo& Info(TKIDuxlaneControl::Command command) {
    using C = TKIDuxlaneControl::Command;
    static const CommandInfo reset{duxlane::kResetCommand, "Reset", "Resetting control ...",
                                   "Error occured during reset. Server is not responding."};
    static const CommandInfo shutdown{
        duxlane::kShutdownCommand, "Shutdown", "Shutting down control ...",
        "Error occured while attempting to enter configure mode. Server is not responding."};
    static const CommandInfo saveValues{
        duxlane::kSaveValuesCommand, "SaveValues", "Saving values in control ...",
        "Error occured during SaveValues. Server is not responding."};
    static const CommandInfo begin{
        duxlane::kBeginProgrammingModeCommand, "BeginProgrammingMode", nullptr,
        "Error occured during BeginProgrammingMode. Server is not responding."};
    static const CommandInfo end{
        duxlane::kEndProgrammingModeCommand, "EndProgrammingMode", nullptr,
        "Error occured during EndProgrammingMode. Server is not responding."};
    static const CommandInfo write{
        duxlane::kWriteProgramMemoryCommand, "WriteProgramMemory", nullptr,
        "Error occured during WriteProgrammingMemory. Server is not responding."};
    switch (command) {
    case C::Reset:
        return reset;
    case C::Shutdown:
        return shutdown;
    case C::SaveValues:
        return saveValues;
    case C::BeginProgrammingMode:
        return begin;
    case C::EndProgrammingMode:
        return end;
    case C::WriteProgramMemory:
        return write;
    }
    return reset;
}

[[noreturn]] void Fail(const char* text) {
    throw Exception(QString::fromLatin1(text));
}

} // namespace

TKIDuxlaneControl::TKIDuxlaneControl(TComponent* owner)
    : TKIDevice(owner), m_commandSynchronizer(std::make_shared<Synchronizer>()),
      m_request(std::make_unique<TSyncRequest>()) {
    m_confirmTimer.setInterval(timing().confirmIntervalMs);
    m_resetTimer.setInterval(timing().resetPollIntervalMs);
    m_confirmTimer.callOnTimeout([this] { ConfirmTick(); });
    m_resetTimer.callOnTimeout([this] { ResetTick(); });
}

TKIDuxlaneControl::~TKIDuxlaneControl() {
    m_confirmTimer.stop();
    m_resetTimer.stop();
    StopResultLink();
}

std::unique_ptr<TKIItem> TKIDuxlaneControl::CreateItem(const QString& upperName) {
    return std::make_unique<TKIDuxlaneItem>(upperName);
}

// ---------------------------------------------------------------------------
// Connection confirmation

void TKIDuxlaneControl::Connected(TKIDdeClientConv* conversation) {
    if (conversation == nullptr) {
        return;
    }
    SetConversation(conversation);
    SetConnectionState(TKIDeviceState::Connecting);
    m_confirmAttemptsLeft = kConfirmAttempts;
    m_notReadyAnswersLeft = timing().confirmNotReadyAnswers;
    m_confirmTimer.setInterval(timing().confirmIntervalMs);
    m_confirmTimer.start();
}

void TKIDuxlaneControl::ConfirmTick() {
    m_confirmTimer.stop();
    if (Conversation() == nullptr) {
        // The control was released from its server meanwhile.
        return;
    }
    if (m_request->IsBusy()) {
        // Inside another request of this control: ask at the next tick.
        m_confirmTimer.start();
        return;
    }
    --m_confirmAttemptsLeft;
    bool answering = false;
    try {
        answering = ControlStatus();
    } catch (const Exception& e) {
        qCDebug(lcModel) << "Confirming" << Identifier() << "failed:" << e.what();
        if (m_confirmAttemptsLeft < 0) {
            GiveUpConfirmation();
        } else {
            m_confirmTimer.start();
        }
        return;
    }
    if (!answering) {
        if (--m_notReadyAnswersLeft <= 0) {
            GiveUpConfirmation();
        } else {
            m_confirmTimer.start();
        }
        return;
    }
    if (Conversation()) {
        // A command abandoned on the old connection must not block the new one.
        m_commandSynchronizer = std::make_shared<Synchronizer>();
        m_commandState = kCommandStateReady;
    }
    TKIDevice::Connected(Conversation());
}

void TKIDuxlaneControl::GiveUpConfirmation() {
    qCWarning(lcModel) << Identifier() << "does not answer; confirmation given up";
    const QString message =
        QStringLiteral("Control is not responding to request of connection: ") + Identifier();
    showError(message);
    ConnectFailed(message);
}

// ---------------------------------------------------------------------------
// Requests

void TKIDuxlaneControl::CheckConnected() const {
    if (Identifier().isEmpty() || Conversation() == nullptr || !Conversation()->IsConnected()) {
        throw Exception(QStringLiteral("Control has not been connected."));
    }
}

QString TKIDuxlaneControl::RequestItem(const char* item, const QString& failureText) {
    CheckConnected();
    try {
        m_replyText = m_request->RequestText(Conversation(), QString::fromLatin1(item));
    } catch (const EDdeError&) {
        // The server answered, with an error: the caller judges it.
        throw;
    } catch (const Exception& e) {
        qCWarning(lcModel) << "Request of" << item << "on" << Identifier() << "failed:" << e.what();
        throw Exception(failureText);
    }
    if (m_replyText.size() > kReplyBufferChars) {
        // Kept whole: a longer reply must neither overrun nor be cut.
        qCDebug(lcModel) << "Long reply from" << Identifier() << ":" << m_replyText.size()
                         << "characters";
    }
    return m_replyText;
}

static QString RequestFailure(const char* item) {
    return QStringLiteral("Request of %1 failed.").arg(QLatin1String(item));
}

QString TKIDuxlaneControl::ProtocolID() {
    return RequestItem(duxlane::kProtocolIdItem, RequestFailure(duxlane::kProtocolIdItem));
}

QString TKIDuxlaneControl::SystemID() {
    return RequestItem(duxlane::kSystemIdItem, RequestFailure(duxlane::kSystemIdItem));
}

QString TKIDuxlaneControl::ApplicationID() {
    return RequestItem(duxlane::kApplicationIdItem, RequestFailure(duxlane::kApplicationIdItem));
}

QString TKIDuxlaneControl::ProductID() {
    return RequestItem(duxlane::kProductIdItem, RequestFailure(duxlane::kProductIdItem));
}

QString TKIDuxlaneControl::ConfigurationID() {
    return RequestItem(duxlane::kConfigurationIdItem,
                       RequestFailure(duxlane::kConfigurationIdItem));
}

bool TKIDuxlaneControl::InConfigureMode() {
    return RequestItem(duxlane::kRunModeItem, RequestFailure(duxlane::kRunModeItem)) ==
           QLatin1String(duxlane::kTrueText);
}

bool TKIDuxlaneControl::ControlStatus() {
    try {
        return RequestItem(duxlane::kControlStatusItem,
                           QStringLiteral("Request of control status failed.")) ==
               QLatin1String(duxlane::kTrueText);
    } catch (const EDdeError& e) {
        // The server answered, with an error: the control is not answering.
        qCDebug(lcModel) << "Status of" << Identifier() << "answered with an error:" << e.what();
        return false;
    }
}

// ---------------------------------------------------------------------------
// Command texts and results

QString TKIDuxlaneControl::BeginProgrammingModeText(std::uint32_t address, std::uint32_t length) {
    return QString::fromLatin1(duxlane::kBeginProgrammingModeCommand) +
           QLatin1Char(duxlane::kArgumentsOpen) + QString::number(address) +
           QLatin1Char(duxlane::kArgumentSeparator) + QString::number(length) +
           QLatin1Char(duxlane::kArgumentsClose);
}

QString TKIDuxlaneControl::WriteProgramMemoryText(std::uint32_t address, const std::uint8_t* bytes,
                                                  int count) {
    return QString::fromLatin1(WriteProgramMemoryCommand(address, bytes, count));
}

QByteArray TKIDuxlaneControl::WriteProgramMemoryCommand(std::uint32_t address,
                                                        const std::uint8_t* bytes, int count) {
    count = bytes != nullptr ? std::max(0, count) : 0;
    QByteArray text(kWriteProgramMemoryCommandLength + 1 + kMaxAddressDigits + 1 +
                        qsizetype(count) * kMaxByteFieldChars + 1,
                    Qt::Uninitialized);
    char* out = text.data();
    out = std::copy_n(duxlane::kWriteProgramMemoryCommand, kWriteProgramMemoryCommandLength, out);
    *out++ = duxlane::kArgumentsOpen;
    out = std::to_chars(out, out + kMaxAddressDigits, address).ptr;
    *out++ = duxlane::kArgumentSeparator;
    for (int i = 0; i < count; ++i) {
        if (i > 0) {
            *out++ = duxlane::kByteSeparator;
        }
        const ByteDigits& digits = kByteDigits.entries[bytes[i]];
        out = std::copy_n(digits.text, digits.length, out);
    }
    *out++ = duxlane::kArgumentsClose;
    text.truncate(out - text.constData());
    return text;
}

QString TKIDuxlaneControl::WriteProgramMemoryCodeText(int code) {
    switch (code) {
    case 0:
        return QStringLiteral("Successful");
    case 1:
        return QStringLiteral("Invalid Adress");
    case 2:
        return QStringLiteral("Program memory block not erased");
    case 3:
        return QStringLiteral("Address outside of program memory block");
    case 4:
        return QStringLiteral("Length beyond program memory block");
    case 5:
        return QStringLiteral("Addesss not on an even boundary");
    case 6:
        return QStringLiteral("Length not on an even boundary");
    case 7:
        return QStringLiteral("Program lockout, shutdown controlled device");
    case 254:
        return QStringLiteral("Security lockout");
    case 255:
        return QStringLiteral("Unsupported function");
    default:
        return QString();
    }
}

QString TKIDuxlaneControl::ResultItemName(Command command) {
    return QString::fromLatin1(Info(command).executeName) + QLatin1String(duxlane::kResultSuffix);
}

QString TKIDuxlaneControl::StatusText(Command command) {
    const char* text = Info(command).statusText;
    return text ? QString::fromLatin1(text) : QString();
}

QString TKIDuxlaneControl::NotRespondingText(Command command) {
    return QString::fromLatin1(Info(command).notResponding);
}

double TKIDuxlaneControl::ResultToNumber(const QString& resultText) {
    bool ok = false;
    const double value = resultText.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value)) {
        throw Exception(QStringLiteral("'%1' is not a valid floating point value").arg(resultText));
    }
    return value;
}

void TKIDuxlaneControl::CheckResult(Command command, double result, const QString& resultText) {
    if (result == 0) {
        return;
    }
    switch (command) {
    case Command::Reset:
        if (result == 1) {
            Fail("Error resetting control:  The control is not in configure mode");
        }
        Fail("TKIDuxlaneControl.Reset: Reset Failed");
    case Command::Shutdown:
        Fail("TKIDuxlaneControl.Shutdown: Shutdown Failed");
    case Command::SaveValues:
        if (result == 1) {
            Fail("TKIDuxlaneControl.SaveValues: Memory Error");
        }
        if (result == 255) {
            Fail("TKIDuxlaneControl.SaveValues: Unsupported Function");
        }
        Fail("TKIDuxlaneControl.SaveValues: SaveValues Failed");
    case Command::BeginProgrammingMode:
        Fail("TKIDuxlaneControl.BeginProgrammingMode: BeginProgrammingMode Failed");
    case Command::EndProgrammingMode:
        Fail("TKIDuxlaneControl.EndProgrammingMode: EndProgrammingMode Failed");
    case Command::WriteProgramMemory: {
        bool ok = false;
        const int code = resultText.trimmed().toInt(&ok);
        throw Exception(
            QStringLiteral("TKIDuxlaneControl.WriteProgrammingMemory: WriteProgrammingMemory "
                           "Failed.\rResult Code: ") +
            (ok ? WriteProgramMemoryCodeText(code) : QString()));
    }
    }
}

// ---------------------------------------------------------------------------
// Running a command

double TKIDuxlaneControl::RunCommand(Command command, const QByteArray& executeText) {
    const CommandInfo& info = Info(command);
    CheckConnected();
    // Held for the wait: a confirmation may replace the member meanwhile.
    const std::shared_ptr<Synchronizer> synchronizer = m_commandSynchronizer;
    // Before anything is sent: a second command while one waits is refused.
    synchronizer->StartTransaction();
    // A result that never arrives must not be judged on an earlier command's.
    m_resultText.clear();
    m_resultTarget = &m_resultText;
    m_commandRefusal.reset();
    m_awaitingResult = synchronizer.get();
    if (info.statusText) {
        SetStatusText(QString::fromLatin1(info.statusText));
    }
    // A write's text runs to kilobytes: its head says enough.
    qCDebug(lcModel) << "Command" << executeText.left(kLoggedCommandChars) << "of"
                     << executeText.size() << "bytes on" << Identifier();
    TKIDdeClientConv* conversation = Conversation();
    DWORD execute = 0;
    try {
        execute = conversation->ExecuteBytes(
            executeText, TDdeDataEvent(this, &TKIDuxlaneControl::CommandAnswered));
    } catch (...) {
        m_awaitingResult = nullptr;
        synchronizer->CompleteTransaction();
        throw;
    }
    const bool answered = AwaitResult(ResultItemName(command), *synchronizer);
    if (Conversation() == conversation && conversation != nullptr) {
        // The execute's answer is no longer awaited by anyone.
        conversation->Abandon(execute);
    }
    if (m_commandRefusal) {
        const std::unique_ptr<EDdeError> refusal = std::move(m_commandRefusal);
        StopResultLink();
        qCWarning(lcModel) << Identifier() << "refused" << executeText.left(kLoggedCommandChars)
                           << ":" << refusal->what();
        throw Exception(QStringLiteral("TKIDuxlaneControl.%1: %2")
                            .arg(QLatin1String(info.operation), refusal->message()));
    }
    if (!answered) {
        synchronizer->CompleteTransaction();
        StopResultLink();
        qCWarning(lcModel) << Identifier() << "did not answer"
                           << executeText.left(kLoggedCommandChars);
        showError(NotRespondingText(command));
        throw Exception(QStringLiteral("TKIDuxlaneControl.%1: The control did not report a result.")
                            .arg(QLatin1String(info.operation)));
    }
    const double result = ResultToNumber(m_resultText);
    CheckResult(command, result, m_resultText);
    return result;
}

bool TKIDuxlaneControl::AwaitResult(const QString& resultItem, Synchronizer& synchronizer) {
    try {
        const std::int64_t key = Conversation()->StartAdvise(
            resultItem, TDdeDataEvent(this, &TKIDuxlaneControl::ResultReceived),
            TDdeDataEvent(this, &TKIDuxlaneControl::CommandAnswered));
        m_resultAdviseKey = key;
        m_resultLinked = key != -1;
    } catch (const EDdeError& e) {
        // Without the link no result can come: fail now, not at the time-out.
        qCWarning(lcModel) << "Result link" << resultItem << "on" << Identifier()
                           << "failed:" << e.what();
        EndWaitWithRefusal(std::make_unique<EDdeError>(e));
    }
    try {
        synchronizer.WaitForCompletion();
    } catch (const SynchronizerException&) {
        m_awaitingResult = nullptr;
        return false;
    }
    m_awaitingResult = nullptr;
    return true;
}

void TKIDuxlaneControl::CommandAnswered(const char*, std::unique_ptr<EDdeError> error) {
    if (error) {
        EndWaitWithRefusal(std::move(error));
    }
}

void TKIDuxlaneControl::EndWaitWithRefusal(std::unique_ptr<EDdeError> error) {
    if (m_awaitingResult == nullptr) {
        qCDebug(lcModel) << "Late refusal on" << Identifier() << ":" << error->what();
        return;
    }
    if (!m_commandRefusal) {
        m_commandRefusal = std::move(error);
    }
    Synchronizer* synchronizer = m_awaitingResult;
    m_awaitingResult = nullptr;
    synchronizer->CompleteTransaction();
}

void TKIDuxlaneControl::ResultReceived(const char* value, std::unique_ptr<EDdeError> error) {
    if (error) {
        qCWarning(lcModel) << "Result link on" << Identifier()
                           << "delivered an error:" << error->what();
        return;
    }
    if (m_awaitingResult == nullptr || value == nullptr || *value == '\0') {
        // The item's empty value before the command has answered.
        return;
    }
    if (m_resultTarget) {
        *m_resultTarget = fromWindows1252(value, qstrlen(value));
    }
    Synchronizer* synchronizer = m_awaitingResult;
    m_awaitingResult = nullptr;
    StopResultLink();
    synchronizer->CompleteTransaction();
}

void TKIDuxlaneControl::StopResultLink() {
    if (!m_resultLinked) {
        return;
    }
    m_resultLinked = false;
    TKIDdeClientConv* conversation = Conversation();
    if (conversation == nullptr || !conversation->IsConnected()) {
        return;
    }
    try {
        conversation->StopAdvise(m_resultAdviseKey);
    } catch (const Exception& e) {
        qCWarning(lcModel) << "Stopping the result link on" << Identifier()
                           << "failed:" << e.what();
    }
}

// ---------------------------------------------------------------------------
// Commands

void TKIDuxlaneControl::Reset() {
    CheckConnected();
    DisconnectItems();
    QThread::msleep(static_cast<unsigned long>(std::max(0, timing().resetPauseMs)));
    try {
        RunCommand(Command::Reset, QByteArray(duxlane::kResetCommand));
    } catch (...) {
        // The control goes on running: its items must get their links back.
        ReconnectItems();
        throw;
    }
    m_commandState = kCommandStateResetting;
    m_resetPollsLeft = timing().resetPolls;
    m_resetTimer.setInterval(timing().resetPollIntervalMs);
    m_resetTimer.start();
}

void TKIDuxlaneControl::ResetWithNotify(const TKIDuxlaneControlEvent& handler) {
    m_onResetDone = handler;
    try {
        Reset();
    } catch (...) {
        m_onResetDone.clear();
        throw;
    }
}

void TKIDuxlaneControl::ReconnectItems() {
    if (Conversation() && Conversation()->IsConnected()) {
        TKIDevice::Connected(Conversation());
    }
}

void TKIDuxlaneControl::ResetTick() {
    m_resetTimer.stop();
    if (Conversation() == nullptr) {
        // Released from its server meanwhile: the control cannot come back.
        FinishReset();
        return;
    }
    if (m_request->IsBusy()) {
        // Inside another request of this control (the confirmation polls as
        // well): ask at the next tick.
        m_resetTimer.start();
        return;
    }
    if (m_resetPollsLeft >= 1) {
        --m_resetPollsLeft;
        bool answering = false;
        try {
            answering = ControlStatus();
        } catch (const Exception& e) {
            // The windows wait for the reset-done handler: end the polling as a
            // control that did not come back (the state stays 1).
            qCWarning(lcModel) << "Reset polling of" << Identifier() << "failed:" << e.what();
            const LifeToken alive = lifetime().token();
            showError(e.message());
            // The control may be freed while the box is open.
            if (alive.expired()) {
                return;
            }
            FinishReset();
            return;
        }
        if (!answering) {
            m_resetTimer.start();
            return;
        }
        Connected(Conversation());
        SetStatusText(kActiveText);
        m_commandState = kCommandStateReady;
    } else {
        qCWarning(lcModel) << Identifier() << "did not come back after the reset";
    }
    FinishReset();
}

void TKIDuxlaneControl::FinishReset() {
    // Forgotten before the call: the handler may start another reset, or end
    // the program.
    const TKIDuxlaneControlEvent handler = m_onResetDone;
    m_onResetDone.clear();
    if (handler) {
        handler(this);
    }
}

void TKIDuxlaneControl::Shutdown() {
    RunCommand(Command::Shutdown, QByteArray(duxlane::kShutdownCommand));
    SetStatusText(QStringLiteral("Control is in configure mode."));
}

void TKIDuxlaneControl::SaveValues() {
    RunCommand(Command::SaveValues, QByteArray(duxlane::kSaveValuesCommand));
    SetStatusText(kActiveText);
}

void TKIDuxlaneControl::BeginProgrammingMode(std::uint32_t address, std::uint32_t length) {
    m_commandState = kCommandStateProgramming;
    RunCommand(Command::BeginProgrammingMode, BeginProgrammingModeText(address, length).toLatin1());
}

void TKIDuxlaneControl::EndProgrammingMode() {
    RunCommand(Command::EndProgrammingMode, QByteArray(duxlane::kEndProgrammingModeCommand));
    m_commandState = kCommandStateReady;
}

void TKIDuxlaneControl::WriteProgramMemory(std::uint32_t address, const std::uint8_t* bytes,
                                           int count) {
    RunCommand(Command::WriteProgramMemory, WriteProgramMemoryCommand(address, bytes, count));
}

void TKIDuxlaneControl::WriteProgramMemory(std::uint32_t address, const QByteArray& bytes) {
    WriteProgramMemory(address, reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                       static_cast<int>(bytes.size()));
}

} // namespace orvane
