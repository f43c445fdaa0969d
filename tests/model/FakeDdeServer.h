#pragma once

// A small DDE server inside the test process, on the test's event loop, for
// tests that need exact replies (byte-coded attribute replies, failures of
// chosen items) and a count of what the client sent. Tests of the model as a
// whole run against the real duxlane-server instead.
//
// One instance at a time (the DDE callback has no user data). Main thread only.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <vector>

#include "platform/ddeml.h"

namespace orvane::test {

class FakeDdeServer {
public:
    // Registers every service; topics are shared between them.
    explicit FakeDdeServer(const QStringList& services);
    ~FakeDdeServer();
    FakeDdeServer(const FakeDdeServer&) = delete;
    FakeDdeServer& operator=(const FakeDdeServer&) = delete;

    bool isValid() const { return m_instance != 0; }

    void addTopic(const QString& topic);
    // Item names are matched without regard to letter case, as the server does.
    void setText(const QString& item, const QByteArray& text);
    void setRaw(const QString& item, const QByteArray& raw);
    // Requests of the item (any format) are refused.
    void failItem(const QString& item);
    // Sets the text and pushes it on every hot link of the item.
    void change(const QString& topic, const QString& item, const QByteArray& text);

    int requests(const QString& item, UINT format) const;
    int adviseStarts(const QString& item) const;
    int adviseStops(const QString& item) const;
    QList<QByteArray> pokes(const QString& item) const;
    int connections() const { return m_connections; }
    int disconnects() const { return m_disconnects; }

private:
    static HDDEDATA callback(UINT type, UINT format, HCONV conversation, HSZ hsz1, HSZ hsz2,
                             HDDEDATA data, ULONG_PTR data1, ULONG_PTR data2);
    HDDEDATA handle(UINT type, UINT format, HSZ hsz1, HSZ hsz2, HDDEDATA data);
    QString text(HSZ handle) const;
    HDDEDATA reply(HSZ item, UINT format);

    DWORD m_instance = 0;
    std::vector<HSZ> m_services;
    QSet<QString> m_topics; // upper case
    QHash<QString, QByteArray> m_texts;
    QHash<QString, QByteArray> m_raws;
    QSet<QString> m_failing;
    QHash<QString, int> m_requests; // "ITEM/format"
    QHash<QString, int> m_adviseStarts;
    QHash<QString, int> m_adviseStops;
    QHash<QString, QList<QByteArray>> m_pokes;
    int m_connections = 0;
    int m_disconnects = 0;
};

} // namespace orvane::test
