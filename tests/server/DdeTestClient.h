#pragma once

// A plain DDE client for the server tests: the library's client side called
// directly (no model), with synchronous transactions, a record of the hot-link
// data and disconnects it received, and the command pattern the program uses
// (execute, then a hot link on "<command>.Result" until a code arrives).
// One instance at a time per process (the callback finds it through a static).

#include <optional>
#include <vector>

#include <QByteArray>
#include <QSet>
#include <QString>

#include "platform/ddeml.h"

namespace orvane::test {

// Time a synchronous transaction of the tests waits.
constexpr DWORD kTransactionTimeoutMs = 5000;
// Time a test waits for a pushed value before it gives up.
constexpr int kPushTimeoutMs = 5000;

class DdeTestClient {
public:
    DdeTestClient();
    ~DdeTestClient();
    DdeTestClient(const DdeTestClient&) = delete;
    DdeTestClient& operator=(const DdeTestClient&) = delete;

    bool isValid() const { return m_inst != 0; }
    DWORD instance() const { return m_inst; }
    HCONV connect(const char* service, const char* topic);
    HCONV connectControl(const char* topic) { return connect("UPCIDuxlane", topic); }
    void disconnect(HCONV conv);

    // The reply bytes (without the text's terminating zero for CF_TEXT), or
    // nothing when refused or timed out (lastError() tells which).
    std::optional<QByteArray> request(HCONV conv, const QString& item, UINT format = CF_TEXT,
                                      DWORD timeoutMs = kTransactionTimeoutMs);
    std::optional<QString> text(HCONV conv, const QString& item,
                                DWORD timeoutMs = kTransactionTimeoutMs);
    bool poke(HCONV conv, const QString& item, const QByteArray& value,
              DWORD timeoutMs = kTransactionTimeoutMs);
    bool execute(HCONV conv, const QByteArray& command, DWORD timeoutMs = kTransactionTimeoutMs);
    bool startAdvise(HCONV conv, const QString& item);
    bool stopAdvise(HCONV conv, const QString& item);
    // Executes a command and waits for its result code as the program does.
    // Empty when no code came within timeoutMs.
    QString runCommand(HCONV conv, const QString& command, int timeoutMs = kPushTimeoutMs);

    // Hot-link values received for an item (upper-cased name), oldest first.
    QStringList pushed(const QString& item) const;
    // Waits until at least `count` values were pushed for the item.
    bool waitForPushes(const QString& item, int count, int timeoutMs = kPushTimeoutMs);
    bool wasDisconnected(HCONV conv) const { return m_disconnected.contains(conv); }
    UINT lastError() const { return m_lastError; }

private:
    static HDDEDATA callback(UINT type, UINT fmt, HCONV conv, HSZ hsz1, HSZ hsz2, HDDEDATA data,
                             ULONG_PTR, ULONG_PTR);
    HSZ handle(const QString& text);

    DWORD m_inst = 0;
    UINT m_lastError = 0;
    std::vector<std::pair<QString, QString>> m_pushes; // upper-cased item, value
    QSet<HCONV> m_disconnected;
    std::vector<HSZ> m_handles;
};

// Runs the event loop until the condition holds or the time is up.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = kPushTimeoutMs);

} // namespace orvane::test
