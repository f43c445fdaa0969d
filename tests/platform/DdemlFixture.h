#pragma once

// A client and a server instance of the DDE library on the test's event loop,
// with a scripted server (values per item, answers to pokes and executes) and
// a record of every callback either side received. Header only: the platform
// test folder builds every *Test.cpp, and this is shared by several of them.

#include "platform/ddeml.h"

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

#include "Wait.h"

namespace orvane::test {

struct DdeEvent {
    UINT type = 0;
    UINT format = 0;
    HCONV conv = 0;
    std::string topic;
    std::string item;
    bool hasData = false;
    std::string data; // bytes of the data handle, exactly
    ULONG_PTR data1 = 0;
    ULONG_PTR data2 = 0;
    UINT lastError = 0; // DdeGetLastError read inside a failed completion
    CONVINFO info;      // DdeQueryConvInfo of a completion's transaction
    UINT infoResult = 0;
};

inline std::string queryString(DWORD inst, HSZ hsz) {
    if (hsz == 0) {
        return {};
    }
    char buffer[300] = {};
    DdeQueryString(inst, hsz, buffer, sizeof(buffer), CP_WINANSI);
    return buffer;
}

inline std::string dataBytes(HDDEDATA data) {
    DWORD size = 0;
    const BYTE* bytes = DdeAccessData(data, &size);
    if (bytes == nullptr) {
        return {};
    }
    std::string result(reinterpret_cast<const char*>(bytes), size);
    DdeUnaccessData(data);
    return result;
}

// Text as DDE carries it: with its terminating zero.
inline std::string text(const char* s) {
    return std::string(s, std::strlen(s) + 1);
}

// Runs the event loop until the condition holds or the time is up.
inline bool waitFor(const std::function<bool()>& condition, int timeoutMs = 3000) {
    return orvane::test::WaitUntil(condition, timeoutMs);
}

// Runs the event loop for a while (to show that something does NOT happen).
inline void spin(int ms) {
    waitFor([] { return false; }, ms);
}

class DdemlFixture : public ::testing::Test {
protected:
    static constexpr const char* kService = "Duxtest";
    static constexpr const char* kTopic = "Plant1";

    void SetUp() override {
        s_current = this;
        ASSERT_EQ(DdeInitialize(&server, &serverCallback, APPCLASS_STANDARD, 0), DMLERR_NO_ERROR);
        ASSERT_EQ(DdeInitialize(&client, &clientCallback, APPCMD_CLIENTONLY, 0), DMLERR_NO_ERROR);
        serviceName = DdeCreateStringHandle(server, kService, CP_WINANSI);
        ASSERT_NE(DdeNameService(server, serviceName, 0, DNS_REGISTER), 0u);
        // Both instances heard of the registration; each test starts with empty logs.
        clientLog.clear();
        serverLog.clear();
    }

    void TearDown() override {
        if (client != 0) {
            DdeUninitialize(client);
        }
        if (server != 0) {
            DdeUninitialize(server);
        }
        s_current = nullptr;
    }

    HCONV connect(const char* topic = kTopic) {
        const HSZ service = DdeCreateStringHandle(client, kService, CP_WINANSI);
        const HSZ topicHsz = DdeCreateStringHandle(client, topic, CP_WINANSI);
        CONVCONTEXT context;
        context.cb = 36;
        context.iCodePage = CP_WINANSI;
        const HCONV conv = DdeConnect(client, service, topicHsz, &context);
        DdeFreeStringHandle(client, service);
        DdeFreeStringHandle(client, topicHsz);
        return conv;
    }

    // Barrier: a synchronous request on the conversation returns only after
    // everything the server sent on it before has been delivered. False when
    // it was not answered.
    bool barrier(HCONV conv) {
        values[kBarrierItem] = text("done");
        const HSZ item = clientHsz(kBarrierItem);
        const HDDEDATA data =
            DdeClientTransaction(nullptr, 0, conv, item, CF_TEXT, XTYP_REQUEST, 5000, nullptr);
        DdeFreeStringHandle(client, item);
        if (data == 0) {
            return false;
        }
        DdeFreeDataHandle(data);
        return true;
    }
    static constexpr const char* kBarrierItem = "Barrier";

    HSZ clientHsz(const char* s) { return DdeCreateStringHandle(client, s, CP_WINANSI); }
    HSZ serverHsz(const char* s) { return DdeCreateStringHandle(server, s, CP_WINANSI); }

    // Starts an asynchronous transaction; returns its id, 0 when refused.
    DWORD startAsync(HCONV conv, UINT type, const char* item, UINT format = CF_TEXT,
                     const std::string& data = std::string()) {
        const HSZ hsz = item != nullptr ? clientHsz(item) : 0;
        DWORD id = 0;
        const HDDEDATA ok = DdeClientTransaction(
            data.empty() ? nullptr : reinterpret_cast<LPBYTE>(const_cast<char*>(data.data())),
            DWORD(data.size()), conv, hsz, format, type, TIMEOUT_ASYNC, &id);
        if (hsz != 0) {
            DdeFreeStringHandle(client, hsz); // the transaction keeps its own reference
        }
        return ok ? id : 0;
    }

    std::vector<DdeEvent> clientEvents(UINT type) const { return filter(clientLog, type); }
    std::vector<DdeEvent> serverEvents(UINT type) const { return filter(serverLog, type); }

    // Item names are compared without regard to letter case, as DDE does.
    struct CaseLess {
        bool operator()(const std::string& a, const std::string& b) const {
            return QString::fromLatin1(a).compare(QString::fromLatin1(b), Qt::CaseInsensitive) < 0;
        }
    };

    // Server script.
    std::map<std::string, std::string, CaseLess> values; // item -> bytes of a request/advise
    bool acceptConnect = true;
    HDDEDATA pokeResult = DDE_FACK;
    HDDEDATA executeResult = DDE_FACK;
    bool acceptAdvise = true;
    // Called from inside the callbacks (after recording), for re-entrancy tests.
    std::function<HDDEDATA(const DdeEvent&)> onClient;
    std::function<void(const DdeEvent&)> onServer;
    // The server's answer to XTYP_WILDCONNECT (given the service handle); none: 0.
    std::function<HDDEDATA(HSZ)> onWildConnect;

    DWORD server = 0;
    DWORD client = 0;
    HSZ serviceName = 0; // server's handle of kService
    std::vector<DdeEvent> clientLog;
    std::vector<DdeEvent> serverLog;

private:
    static std::vector<DdeEvent> filter(const std::vector<DdeEvent>& log, UINT type) {
        std::vector<DdeEvent> out;
        for (const auto& e : log) {
            if (e.type == type) {
                out.push_back(e);
            }
        }
        return out;
    }

    static DdeEvent record(DWORD inst, UINT type, UINT format, HCONV conv, HSZ hsz1, HSZ hsz2,
                           HDDEDATA data, ULONG_PTR data1, ULONG_PTR data2) {
        DdeEvent e;
        e.type = type;
        e.format = format;
        e.conv = conv;
        e.topic = queryString(inst, hsz1);
        e.item = queryString(inst, hsz2);
        e.data1 = data1;
        e.data2 = data2;
        if (data != 0 && data != HDDEDATA(TRUE)) {
            DWORD size = 0;
            if (DdeAccessData(data, &size) != nullptr) {
                e.hasData = true;
                e.data = dataBytes(data);
            }
        }
        return e;
    }

    static HDDEDATA serverCallback(UINT type, UINT format, HCONV conv, HSZ hsz1, HSZ hsz2,
                                   HDDEDATA data, ULONG_PTR data1, ULONG_PTR data2) {
        DdemlFixture* f = s_current;
        DdeEvent e = record(f->server, type, format, conv, hsz1, hsz2, data, data1, data2);
        f->serverLog.push_back(e);
        if (f->onServer) {
            f->onServer(e);
        }
        switch (type) {
        case XTYP_CONNECT:
            return f->acceptConnect ? TRUE : FALSE;
        case XTYP_REQUEST:
        case XTYP_ADVREQ: {
            const auto it = f->values.find(e.item);
            if (it == f->values.end()) {
                return 0;
            }
            return DdeCreateDataHandle(f->server, reinterpret_cast<const BYTE*>(it->second.data()),
                                       DWORD(it->second.size()), 0, hsz2, format, 0);
        }
        case XTYP_POKE:
            if (f->pokeResult == DDE_FACK) {
                f->values[e.item] = e.data;
            }
            return f->pokeResult;
        case XTYP_EXECUTE:
            return f->executeResult;
        case XTYP_ADVSTART:
            return f->acceptAdvise ? TRUE : FALSE;
        case XTYP_WILDCONNECT:
            return f->onWildConnect ? f->onWildConnect(hsz2) : 0;
        default:
            return 0;
        }
    }

    static HDDEDATA clientCallback(UINT type, UINT format, HCONV conv, HSZ hsz1, HSZ hsz2,
                                   HDDEDATA data, ULONG_PTR data1, ULONG_PTR data2) {
        DdemlFixture* f = s_current;
        DdeEvent e = record(f->client, type, format, conv, hsz1, hsz2, data, data1, data2);
        if (type == XTYP_XACT_COMPLETE) {
            if (data == 0) {
                e.lastError = DdeGetLastError(f->client);
            }
            e.info.cb = sizeof(CONVINFO);
            e.infoResult = DdeQueryConvInfo(conv, DWORD(data1), &e.info);
        }
        f->clientLog.push_back(e);
        if (f->onClient) {
            return f->onClient(e);
        }
        return type == XTYP_ADVDATA ? DDE_FACK : 0;
    }

    static inline DdemlFixture* s_current = nullptr;
};

} // namespace orvane::test
