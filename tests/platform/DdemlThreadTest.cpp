// A server instance on a thread of its own in the same process: the client's
// synchronous and asynchronous transactions and advise links reach it, and
// handles of one thread mean nothing on another.

#include "DdemlFixture.h"

#include <atomic>

#include <QThread>

namespace orvane::test {
namespace {

constexpr const char* kThreadService = "ThreadServer";

std::atomic<DWORD> g_threadInst{0};
std::atomic<HDDEDATA> g_threadData{0};
std::atomic<int> g_threadDisconnects{0};

HDDEDATA threadCallback(UINT type, UINT format, HCONV, HSZ, HSZ item, HDDEDATA, ULONG_PTR,
                        ULONG_PTR) {
    switch (type) {
    case XTYP_CONNECT:
    case XTYP_ADVSTART:
        return TRUE;
    case XTYP_REQUEST:
    case XTYP_ADVREQ: {
        const std::string value = text("on thread");
        return DdeCreateDataHandle(g_threadInst, reinterpret_cast<const BYTE*>(value.data()),
                                   DWORD(value.size()), 0, item, format, 0);
    }
    case XTYP_DISCONNECT:
        ++g_threadDisconnects;
        return 0;
    default:
        return 0;
    }
}

class ServerThread : public QThread {
public:
    std::atomic<bool> ready{false};
    std::atomic<bool> stop{false};
    std::atomic<int> posts{0};

protected:
    void run() override {
        DWORD inst = 0;
        DdeInitialize(&inst, &threadCallback, APPCLASS_STANDARD, 0);
        g_threadInst = inst;
        DdeNameService(inst, DdeCreateStringHandle(inst, kThreadService, CP_WINANSI), 0,
                       DNS_REGISTER);
        const HSZ topic = DdeCreateStringHandle(inst, "T", CP_WINANSI);
        const HSZ item = DdeCreateStringHandle(inst, "Value", CP_WINANSI);
        const std::string bytes = "x";
        g_threadData = DdeCreateDataHandle(inst, reinterpret_cast<const BYTE*>(bytes.data()), 1, 0,
                                           0, CF_TEXT, 0);
        ready = true;
        QEventLoop loop;
        QTimer tick;
        tick.start(5);
        while (!stop) {
            loop.processEvents(QEventLoop::WaitForMoreEvents);
            for (; posts > 0; --posts) {
                DdePostAdvise(inst, topic, item);
            }
        }
        DdeUninitialize(inst);
    }
};

using DdemlThread = DdemlFixture;

TEST_F(DdemlThread, ServerOnAnotherThreadAnswersEveryKindOfTransaction) {
    ServerThread thread;
    thread.start();
    ASSERT_TRUE(waitFor([&] { return thread.ready.load(); }));

    // A data handle of the other thread is unknown here.
    EXPECT_EQ(DdeAccessData(g_threadData, nullptr), nullptr);
    EXPECT_FALSE(DdeFreeDataHandle(g_threadData));

    const HCONV conv = DdeConnect(client, clientHsz(kThreadService), clientHsz("T"), nullptr);
    ASSERT_NE(conv, 0u);
    const HDDEDATA data = DdeClientTransaction(nullptr, 0, conv, clientHsz("Value"), CF_TEXT,
                                               XTYP_REQUEST, 5000, nullptr);
    ASSERT_NE(data, 0u);
    EXPECT_EQ(dataBytes(data), text("on thread"));
    DdeFreeDataHandle(data);

    startAsync(conv, XTYP_ADVSTART | XTYPF_ACKREQ, "Value");
    ASSERT_TRUE(waitFor([&] { return clientEvents(XTYP_XACT_COMPLETE).size() == 1; }));
    thread.posts = 100;
    ASSERT_TRUE(waitFor([&] { return thread.posts == 0 && !clientEvents(XTYP_ADVDATA).empty(); }));
    // Every update the server still owes arrives before the answer to a later
    // request. An acknowledgement sent while the first answer is awaited may
    // free one last held-back update, which the second answer follows.
    for (int i = 0; i < 2; ++i) {
        const HDDEDATA barrier = DdeClientTransaction(nullptr, 0, conv, clientHsz("Value"), CF_TEXT,
                                                      XTYP_REQUEST, 5000, nullptr);
        ASSERT_NE(barrier, 0u);
        DdeFreeDataHandle(barrier);
    }
    const auto updates = clientEvents(XTYP_ADVDATA);
    EXPECT_GE(updates.size(), 1u);
    EXPECT_LE(updates.size(), 100u);
    EXPECT_EQ(updates.back().data, text("on thread"));

    EXPECT_TRUE(DdeDisconnect(conv));
    ASSERT_TRUE(waitFor([&] { return g_threadDisconnects == 1; }));
    thread.stop = true;
    thread.wait();
}

} // namespace
} // namespace orvane::test
