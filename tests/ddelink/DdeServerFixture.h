#pragma once

// A DDE server inside the test process, on the same event loop as the client
// under test, written directly on the DDE library: one service, a set of
// topics, items with values and formats, and switchable failures.

#include <functional>
#include <map>
#include <set>
#include <vector>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "Wait.h"
#include "platform/ddeml.h"

namespace orvane::test {

class InProcessServer {
public:
    struct Item {
        QByteArray data; // sent as is (a CF_TEXT value includes its zero)
        UINT format = CF_TEXT;
        bool fail = false; // requests, pokes and advise starts are refused
    };

    explicit InProcessServer(const QString& service, const QStringList& topics = {"System"});
    ~InProcessServer();

    bool isValid() const { return m_instance != 0 && m_service != 0; }
    DWORD instance() const { return m_instance; }

    // A text item (stored with its terminating zero).
    void setText(const QString& item, const QByteArray& text);
    void setRaw(const QString& item, const QByteArray& bytes, UINT format = CF_PRIVATEFIRST);
    void setFailing(const QString& item);
    // Changes a text item and posts the change to its advise links.
    void postText(const QString& topic, const QString& item, const QByteArray& text);
    // Ends every conversation from the server side.
    void disconnectAll();
    // Refuses every execute.
    void setFailExecute(bool fail) { m_failExecute = fail; }

    int connections() const { return static_cast<int>(m_conversations.size()); }
    const QStringList& pokes() const { return m_pokes; } // "item=value"
    const QStringList& executes() const { return m_executes; }
    const QStringList& adviseStarts() const { return m_adviseStarts; }
    const QStringList& adviseStops() const { return m_adviseStops; }
    int adviseRequests() const { return m_adviseRequests; }

private:
    static HDDEDATA callback(UINT type, UINT format, HCONV conv, HSZ hsz1, HSZ hsz2, HDDEDATA data,
                             ULONG_PTR data1, ULONG_PTR data2);
    HDDEDATA handle(UINT type, UINT format, HCONV conv, HSZ hsz1, HSZ hsz2, HDDEDATA data);
    QString text(HSZ hsz) const;
    HDDEDATA reply(HSZ item, UINT format);

    DWORD m_instance = 0;
    HSZ m_service = 0;
    QStringList m_topics;
    std::map<QString, Item> m_items; // by upper-cased name
    std::set<HCONV> m_conversations;
    bool m_failExecute = false;
    QStringList m_pokes;
    QStringList m_executes;
    QStringList m_adviseStarts;
    QStringList m_adviseStops;
    int m_adviseRequests = 0;
};

// Runs the event loop until the condition holds or the time is up (ms).
inline bool waitFor(const std::function<bool()>& condition, int timeoutMs = kDefaultWaitMs) {
    return WaitUntil(condition, timeoutMs);
}

} // namespace orvane::test
