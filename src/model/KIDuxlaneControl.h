#pragma once

// TKIDuxlaneControl: the device the program uses for every control on the
// network. On top of TKIDevice it
// - confirms, once the server hands over the topic's conversation, that the
//   control answers ("Control Status" = "1") before it declares itself
//   connected (OnConnect, items connected, "Active.");
// - reads the control's identifiers and modes by synchronous requests;
// - runs the control's commands, each a DDE execute followed by a wait for
//   the first non-empty value of the item "<command>.Result";
// - after an accepted Reset, polls the control until it answers again and
//   reconnects everything, then calls the reset-done handler once.
//
// Thread: main thread only. Requests and commands wait with the Qt event loop
// running (each on its own synchronizer, so a status request may run while a
// command waits for its result); the confirmation and reset polls run from
// timers and so may run inside any wait.
//
// Errors (all carry the text the user is shown):
// - "Control has not been connected." for any request or command without a
//   conversation;
// - "Request of <item> failed." when a request is refused or times out
//   ("Request of control status failed." for ControlStatus), the DDE error
//   when the server answers a request with one (except ControlStatus, which
//   then answers false);
// - "Reentrancy on a synchronous transaction." for a second command (or
//   request) while one of the same kind waits;
// - "TKIDuxlaneControl.<Command>: " + the server's refusal when the server
//   refuses the command's execute or the link to its result item (at once,
//   without waiting for a result that cannot come);
// - the command's failure text for a result other than 0, and
//   "TKIDuxlaneControl.<Command>: The control did not report a result." after
//   the not-responding message box when no result arrived;
// - "'<text>' is not a valid floating point value" for a result that is not a
//   number.

#include <cstdint>
#include <memory>

#include <QByteArray>
#include <QString>
#include <QTimer>

#include "model/KIDevice.h"
#include "platform/Delegate.h"
#include "platform/Timing.h"

namespace orvane {

class EDdeError;
class Synchronizer;
class TSyncRequest;
class TKIDdeClientConv;
class TKIDuxlaneControl;

// The reset-done handler; receives the control.
using TKIDuxlaneControlEvent = Delegate<TKIDuxlaneControl*>;

// Command states (CommandState).
constexpr std::uint8_t kCommandStateReady = 0;
constexpr std::uint8_t kCommandStateResetting = 1;
constexpr std::uint8_t kCommandStateProgramming = 2;
constexpr std::uint8_t kCommandStateCreated = 3;

// Confirmation of a new conversation: "Control Status" asked every
// kConfirmIntervalMs; given up after kConfirmAttempts + 1 failed requests, or
// after kConfirmNotReadyAnswers answers of "0" (a control busy with a long
// reset or erase gets a minute), whichever comes first. Giving up shows
// "Control is not responding to request of connection: " + identifier and
// leaves the control NotConnected (see TKIDevice).
constexpr int kConfirmAttempts = 20;
constexpr int kConfirmNotReadyAnswers = 60;
constexpr int kConfirmIntervalMs = 1000;
// After an accepted Reset: kResetPolls polls, kResetPollIntervalMs apart.
constexpr int kResetPolls = 120;
constexpr int kResetPollIntervalMs = 1000;
// Pause before the Reset command is sent, on top of DisconnectItems' own
// pause, so that the server has ended every hot link of the control.
constexpr int kResetPauseMs = 4000;
// The control's reply texts are short; longer replies are kept whole (no
// fixed buffer), this is only the size the protocol promises.
constexpr int kReplyBufferChars = 1003;

class TKIDuxlaneControl : public TKIDevice {
public:
    // The commands, for the text and result tables below.
    enum class Command {
        Reset,
        Shutdown,
        SaveValues,
        BeginProgrammingMode,
        EndProgrammingMode,
        WriteProgramMemory,
    };

    // Intervals and counts of the timers and pauses; the product uses the
    // defaults above, tests shorten them with a TimingScope.
    struct Timing {
        int confirmIntervalMs = kConfirmIntervalMs;
        int confirmNotReadyAnswers = kConfirmNotReadyAnswers;
        int resetPollIntervalMs = kResetPollIntervalMs;
        int resetPolls = kResetPolls;
        int resetPauseMs = kResetPauseMs;
    };

    explicit TKIDuxlaneControl(TComponent* owner = nullptr);
    ~TKIDuxlaneControl() override;

    // The server's answer to Connect: null is ignored; otherwise the
    // conversation is kept and the confirmation starts (kConfirmAttempts).
    // Items, OnConnect and "Active." follow once the control answers.
    void Connected(TKIDdeClientConv* conversation) override;

    // Identifier and mode requests (synchronous).
    QString ProtocolID();
    QString SystemID();
    QString ApplicationID();
    QString ProductID();
    QString ConfigurationID();
    // "Run Mode" is "1": the control's I/O is locked (configure mode).
    bool InConfigureMode();
    // "Control Status" is "1": the control answers. A request that the server
    // answers with an error gives false; a refused or timed-out request raises
    // "Request of control status failed.".
    bool ControlStatus();

    // Commands (synchronous: execute, then wait for the result).
    // Reset: stops every hot link (DisconnectItems), pauses, sends "Reset".
    // Accepted: command state 1 and the reset polling starts; it ends by
    // calling the reset-done handler (state 0 when the control came back, 1
    // when it did not). Refused or unanswered: the items are connected again
    // and the failure raised.
    void Reset();
    // Keeps the handler for the end of the reset polling, then Reset. A
    // failing Reset forgets the handler again (it will not be called).
    void ResetWithNotify(const TKIDuxlaneControlEvent& handler);
    // Locks the control's I/O (configure mode).
    void Shutdown();
    void SaveValues();
    // Command state 2 before anything is sent (it stays 2 on failure).
    void BeginProgrammingMode(std::uint32_t address, std::uint32_t length);
    // Command state 0 on success.
    void EndProgrammingMode();
    // count bytes from bytes (may be null when count is 0).
    void WriteProgramMemory(std::uint32_t address, const std::uint8_t* bytes, int count);
    void WriteProgramMemory(std::uint32_t address, const QByteArray& bytes);

    // 3 after creation, 0 ready, 1 resetting, 2 in programming mode.
    std::uint8_t CommandState() const { return m_commandState; }
    // Confirmation attempts left of the current (or last) confirmation.
    int ConfirmAttemptsLeft() const { return m_confirmAttemptsLeft; }
    int ResetPollsLeft() const { return m_resetPollsLeft; }
    // The result text of the last command (empty when none arrived).
    const QString& ResultText() const { return m_resultText; }
    // The reply of the last identifier or status request.
    const QString& LastReply() const { return m_replyText; }

    // Command texts and tables.
    static QString BeginProgrammingModeText(std::uint32_t address, std::uint32_t length);
    static QString WriteProgramMemoryText(std::uint32_t address, const std::uint8_t* bytes,
                                          int count);
    // The same text as it is sent (ASCII): a download sends thousands of
    // these, so they are written straight into bytes.
    static QByteArray WriteProgramMemoryCommand(std::uint32_t address, const std::uint8_t* bytes,
                                                int count);
    // The text of a WriteProgramMemory result code; empty for unknown codes.
    static QString WriteProgramMemoryCodeText(int code);
    static QString ResultItemName(Command command);
    static QString StatusText(Command command);
    static QString NotRespondingText(Command command);
    // Raises the failure of a command's result code (nothing for success).
    static void CheckResult(Command command, double result, const QString& resultText);
    // The result text as a number; raises "'<text>' is not a valid floating
    // point value".
    static double ResultToNumber(const QString& resultText);

    using TimingScope = TimingOf<Timing>::Scope;
    static const Timing& timing() { return TimingOf<Timing>::current(); }

protected:
    std::unique_ptr<TKIItem> CreateItem(const QString& upperName) override;

private:
    void CheckConnected() const;
    QString RequestItem(const char* item, const QString& failureText);
    // Execute, wait, judge: returns the result as a number or raises.
    double RunCommand(Command command, const QByteArray& executeText);
    // Starts the result link and waits on the started synchronizer; false
    // when the wait timed out.
    bool AwaitResult(const QString& resultItem, Synchronizer& synchronizer);
    void ResultReceived(const char* value, std::unique_ptr<EDdeError> error);
    // The server's answer to the execute, and to the start of the result
    // link: a refusal ends the wait at once.
    void CommandAnswered(const char* value, std::unique_ptr<EDdeError> error);
    void EndWaitWithRefusal(std::unique_ptr<EDdeError> error);
    void StopResultLink();
    void ConfirmTick();
    void GiveUpConfirmation();
    void ResetTick();
    void FinishReset();
    // The items lost their links for a Reset that did not happen: give them
    // the conversation again.
    void ReconnectItems();

    QString m_resultText;
    QString* m_resultTarget = nullptr;
    QString m_replyText;
    std::unique_ptr<EDdeError> m_commandRefusal;
    // Shared with a command that waits on it, so that a new confirmation can
    // replace it without freeing it under the wait.
    std::shared_ptr<Synchronizer> m_commandSynchronizer;
    std::unique_ptr<TSyncRequest> m_request;
    Synchronizer* m_awaitingResult = nullptr;
    std::int64_t m_resultAdviseKey = 0;
    bool m_resultLinked = false;
    QTimer m_confirmTimer;
    int m_confirmAttemptsLeft = 0;
    int m_notReadyAnswersLeft = 0;
    QTimer m_resetTimer;
    int m_resetPollsLeft = 0;
    TKIDuxlaneControlEvent m_onResetDone;
    std::uint8_t m_commandState = kCommandStateCreated;
};

} // namespace orvane
