// Callbacks that run the event loop or the library again: nested loops,
// synchronous transactions inside callbacks, and large data in between.

#include "DdemlFixture.h"

namespace orvane::test {
namespace {

using DdemlReentrancy = DdemlFixture;

TEST_F(DdemlReentrancy, NestedEventLoopInsideACompletionKeepsDelivering) {
    values["A"] = text("a");
    values["B"] = text("b");
    const HCONV conv = connect();
    bool nestedDone = false;
    onClient = [&](const DdeEvent& e) -> HDDEDATA {
        if (e.type == XTYP_XACT_COMPLETE && e.item == "A") {
            // Like a modal dialog opened from a completion: the same
            // conversation's next answer arrives inside it.
            startAsync(conv, XTYP_REQUEST, "B");
            nestedDone = waitFor([&] { return clientEvents(XTYP_XACT_COMPLETE).size() == 2; });
        }
        return 0;
    };
    startAsync(conv, XTYP_REQUEST, "A");
    ASSERT_TRUE(waitFor([&] { return clientEvents(XTYP_XACT_COMPLETE).size() == 2; }));
    EXPECT_TRUE(nestedDone);
    const auto done = clientEvents(XTYP_XACT_COMPLETE);
    EXPECT_EQ(done[0].data, text("a"));
    EXPECT_EQ(done[1].data, text("b"));
}

TEST_F(DdemlReentrancy, SynchronousPokeInsideAnAdviseCallback) {
    values["Level"] = text("1");
    const HCONV conv = connect();
    startAsync(conv, XTYP_ADVSTART | XTYPF_ACKREQ, "Level");
    ASSERT_TRUE(waitFor([&] { return clientEvents(XTYP_XACT_COMPLETE).size() == 1; }));
    HDDEDATA pokeResult = 0;
    onClient = [&](const DdeEvent& e) -> HDDEDATA {
        if (e.type == XTYP_ADVDATA && pokeResult == 0) {
            std::string value = text("7");
            const HSZ item = clientHsz("Target");
            pokeResult =
                DdeClientTransaction(reinterpret_cast<LPBYTE>(value.data()), DWORD(value.size()),
                                     conv, item, CF_TEXT, XTYP_POKE, 5000, nullptr);
            DdeFreeStringHandle(client, item);
        }
        return DDE_FACK;
    };
    DdePostAdvise(server, serverHsz(kTopic), serverHsz("Level"));
    ASSERT_TRUE(waitFor([&] { return pokeResult != 0; }));
    EXPECT_EQ(pokeResult, HDDEDATA(TRUE));
    EXPECT_EQ(values["Target"], text("7"));
}

TEST_F(DdemlReentrancy, SecondSynchronousTransactionOfAnInstanceIsRefused) {
    values["A"] = text("a");
    const HCONV conv = connect();
    HDDEDATA inner = 1;
    UINT innerError = 0;
    // The in-thread server's callback runs inside the client's synchronous
    // request and tries one of its own through the client.
    onServer = [&](const DdeEvent& e) {
        if (e.type == XTYP_REQUEST) {
            const HSZ item = clientHsz("A");
            inner =
                DdeClientTransaction(nullptr, 0, conv, item, CF_TEXT, XTYP_REQUEST, 1000, nullptr);
            innerError = DdeGetLastError(client);
            DdeFreeStringHandle(client, item);
        }
    };
    const HSZ item = clientHsz("A");
    const HDDEDATA outer =
        DdeClientTransaction(nullptr, 0, conv, item, CF_TEXT, XTYP_REQUEST, 5000, nullptr);
    ASSERT_NE(outer, 0u);
    EXPECT_EQ(dataBytes(outer), text("a"));
    DdeFreeDataHandle(outer);
    EXPECT_EQ(inner, 0u);
    EXPECT_EQ(innerError, DMLERR_REENTRANCY);
}

TEST_F(DdemlReentrancy, LargeValuesCrossWholeBetweenSmallOnes) {
    std::string big(3 * 1024 * 1024 + 17, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) {
        big[i] = char(i * 7919 % 251);
    }
    values["Big"] = big;
    values["Small"] = text("s");
    const HCONV conv = connect();
    startAsync(conv, XTYP_REQUEST, "Small", CF_PRIVATEFIRST);
    startAsync(conv, XTYP_REQUEST, "Big", CF_PRIVATEFIRST);
    startAsync(conv, XTYP_POKE, "Echo", CF_PRIVATEFIRST, big);
    startAsync(conv, XTYP_REQUEST, "Small", CF_PRIVATEFIRST);
    ASSERT_TRUE(waitFor([&] { return clientEvents(XTYP_XACT_COMPLETE).size() == 4; }));
    const auto done = clientEvents(XTYP_XACT_COMPLETE);
    EXPECT_EQ(done[0].data, text("s"));
    EXPECT_TRUE(done[1].data == big);
    EXPECT_EQ(done[2].lastError, DMLERR_NO_ERROR);
    EXPECT_TRUE(values["Echo"] == big);
    EXPECT_EQ(done[3].data, text("s"));

    // Beyond the frame limit nothing is even created.
    EXPECT_EQ(DdeCreateDataHandle(client, nullptr, 17u * 1024u * 1024u, 0, 0, CF_TEXT, 0), 0u);
    EXPECT_EQ(DdeGetLastError(client), DMLERR_MEMORY_ERROR);
}

TEST_F(DdemlReentrancy, ConversationInfoWithoutATransaction) {
    const HCONV conv = connect();
    CONVINFO info;
    info.cb = sizeof(CONVINFO);
    ASSERT_EQ(DdeQueryConvInfo(conv, QID_SYNC, &info), sizeof(CONVINFO));
    EXPECT_EQ(queryString(client, info.hszTopic), kTopic);
    EXPECT_EQ(queryString(client, info.hszSvcPartner), kService);
    EXPECT_EQ(info.wStatus & (ST_CONNECTED | ST_CLIENT), ST_CONNECTED | ST_CLIENT);
    EXPECT_EQ(info.ConvCtxt.iCodePage, CP_WINANSI);
    // A record shorter than ours gets what fits.
    CONVINFO small;
    small.cb = 16;
    EXPECT_EQ(DdeQueryConvInfo(conv, QID_SYNC, &small), 16u);
    EXPECT_EQ(DdeQueryConvInfo(conv, 12345, &info), 0u);
    EXPECT_EQ(DdeGetLastError(client), DMLERR_UNFOUND_QUEUE_ID);
    EXPECT_EQ(DdeQueryConvInfo(0, QID_SYNC, &info), 0u);
}

} // namespace
} // namespace orvane::test
