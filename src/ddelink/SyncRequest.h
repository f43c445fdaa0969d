#pragma once

// TSyncRequest: the one way the program asks the server for an item and waits
// for the answer with the event loop running (server, device, item, the
// attributes of a control item, control). Each asker owns one; one request
// at a time per object.
//
// Rules of every request:
// - The conversation is checked first: null, or without a live connection,
//   raises "Control has not been connected." at once; nothing is sent and
//   nothing waits.
// - The wait ends with the first of: the reply; the server's refusal (the
//   EDdeError is raised); the loss of the conversation (the DDE library fails
//   every pending transaction, so the wait ends at once with an EDdeError);
//   the time-out.
// - The time-out rule: the transaction is abandoned (a late reply is
//   dropped, never taken for the answer of a later request), the object is
//   idle again at once, and SynchronizerException "Communications with the
//   server failed.  You need to restart your application" is raised. The next
//   request of the same object works normally.
// - A request from inside the wait of the same object (a timer or a
//   subscriber running in the wait) raises "Reentrancy on a synchronous
//   transaction." and leaves the waiting request alone.
//
// The conversation is borrowed and must outlive the wait (the server object
// owns it and outlives every device's wait).
//
// Thread: main thread only.

#include <memory>

#include <QByteArray>
#include <QString>

#include "ddelink/Synchronizer.h"

namespace orvane {

class EDdeError;
class TKIDdeClientConv;

class TSyncRequest {
public:
    // Turns the raw reply buffer (the bytes and one zero after them, valid
    // only during the call) into the bytes the asker keeps.
    using RawReader = QByteArray (*)(const char* buffer);

    TSyncRequest();
    ~TSyncRequest();
    TSyncRequest(const TSyncRequest&) = delete;
    TSyncRequest& operator=(const TSyncRequest&) = delete;

    // The item's text (CF_TEXT, Windows-1252). timeoutMs 0: the synchronizer's
    // time-out.
    QString RequestText(TKIDdeClientConv* conversation, const QString& item, int timeoutMs = 0);
    // The item in the private raw format, read by reader.
    QByteArray RequestRaw(TKIDdeClientConv* conversation, const QString& item, RawReader reader,
                          int timeoutMs = 0);

    bool IsBusy() const { return !m_synchronizer.IsIdle(); }

private:
    // reader null: a text request.
    QByteArray Run(TKIDdeClientConv* conversation, const QString& item, RawReader reader,
                   int timeoutMs);
    void Received(const char* value, EDdeError* error);

    Synchronizer m_synchronizer;
    RawReader m_reader = nullptr;
    QByteArray m_reply;
    std::unique_ptr<EDdeError> m_error;
};

} // namespace orvane
