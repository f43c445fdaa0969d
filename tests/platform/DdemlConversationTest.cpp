// Client and server instances of the DDE library in one process, on one event
// loop: connecting, every transaction type, advise links, disconnects and the
// error codes the client sees.

#include "DdemlFixture.h"

namespace orvane::test {
namespace {

using DdemlConversation = DdemlFixture;

TEST_F(DdemlConversation, ConnectRunsTheServerCallbacksAndRefusalFails) {
    const HCONV conv = connect();
    ASSERT_NE(conv, 0u);
    const auto connects = serverEvents(XTYP_CONNECT);
    ASSERT_EQ(connects.size(), 1u);
    EXPECT_EQ(connects[0].topic, kTopic);
    EXPECT_EQ(connects[0].item, kService);
    ASSERT_EQ(serverEvents(XTYP_CONNECT_CONFIRM).size(), 1u);
    EXPECT_NE(serverEvents(XTYP_CONNECT_CONFIRM)[0].conv, 0u);

    acceptConnect = false;
    EXPECT_EQ(connect("Other"), 0u);
    EXPECT_EQ(DdeGetLastError(client), DMLERR_NO_CONV_ESTABLISHED);
    EXPECT_EQ(DdeGetLastError(client), DMLERR_NO_ERROR); // reading reset it

    // A service nobody registered.
    const HSZ nobody = clientHsz("NoSuchService");
    const HSZ topic = clientHsz(kTopic);
    EXPECT_EQ(DdeConnect(client, nobody, topic, nullptr), 0u);
    EXPECT_EQ(DdeGetLastError(client), DMLERR_NO_CONV_ESTABLISHED);
}

TEST_F(DdemlConversation, TextRequestsArriveWithTheirTerminator) {
    values["Temp"] = text("21.5");
    values["Empty"] = text("");
    const HCONV conv = connect();
    ASSERT_NE(conv, 0u);
    const DWORD first = startAsync(conv, XTYP_REQUEST, "temp"); // items ignore letter case
    const DWORD second = startAsync(conv, XTYP_REQUEST, "Empty");
    ASSERT_NE(first, 0u);
    ASSERT_NE(second, 0u);
    EXPECT_NE(first, second);
    ASSERT_TRUE(waitFor([&] { return clientEvents(XTYP_XACT_COMPLETE).size() == 2; }));
    const auto done = clientEvents(XTYP_XACT_COMPLETE);
    EXPECT_EQ(done[0].data1, first);
    EXPECT_EQ(done[0].item, "temp");
    EXPECT_EQ(done[0].format, CF_TEXT);
    EXPECT_EQ(done[0].data, text("21.5"));
    // The transaction's record is there during its completion.
    EXPECT_NE(done[0].infoResult, 0u);
    EXPECT_EQ(done[0].info.wType, XTYP_REQUEST);
    EXPECT_EQ(done[0].info.wFmt, CF_TEXT);
    EXPECT_EQ(done[0].info.wStatus & ST_CLIENT, ST_CLIENT);
    EXPECT_EQ(done[1].data1, second);
    ASSERT_TRUE(done[1].hasData);
    EXPECT_EQ(done[1].data, std::string(1, '\0'));
}

TEST_F(DdemlConversation, RawRequestKeepsEmbeddedZerosAndLength) {
    const std::string raw("\x03\x01"
                          "0\0"
                          "100\0\0\0",
                          9);
    values["Setpoint"] = raw;
    const HCONV conv = connect();
    ASSERT_NE(startAsync(conv, XTYP_REQUEST, "Setpoint", CF_PRIVATEFIRST), 0u);
    ASSERT_TRUE(waitFor([&] { return !clientEvents(XTYP_XACT_COMPLETE).empty(); }));
    const auto done = clientEvents(XTYP_XACT_COMPLETE)[0];
    EXPECT_EQ(done.format, CF_PRIVATEFIRST);
    EXPECT_EQ(done.data.size(), raw.size());
    EXPECT_EQ(done.data, raw);
    EXPECT_EQ(serverEvents(XTYP_REQUEST)[0].format, CF_PRIVATEFIRST);
}

TEST_F(DdemlConversation, RefusedRequestCompletesWithoutDataAndNotProcessed) {
    const HCONV conv = connect();
    const DWORD id = startAsync(conv, XTYP_REQUEST, "Unknown");
    ASSERT_TRUE(waitFor([&] { return !clientEvents(XTYP_XACT_COMPLETE).empty(); }));
    const auto done = clientEvents(XTYP_XACT_COMPLETE)[0];
    EXPECT_EQ(done.data1, id);
    EXPECT_FALSE(done.hasData);
    EXPECT_EQ(done.lastError, DMLERR_NOTPROCESSED);
    EXPECT_EQ(done.info.wType, XTYP_REQUEST);
    EXPECT_EQ(done.item, "Unknown");
    EXPECT_EQ(DdeGetLastError(client), DMLERR_NO_ERROR); // the callback read it
}

TEST_F(DdemlConversation, PokeAndExecuteSucceedOrFailAsTheServerSays) {
    const HCONV conv = connect();
    ASSERT_NE(startAsync(conv, XTYP_POKE, "Speed", CF_TEXT, text("1200")), 0u);
    ASSERT_NE(startAsync(conv, XTYP_EXECUTE, nullptr, CF_TEXT, text("Reset")), 0u);
    ASSERT_TRUE(waitFor([&] { return clientEvents(XTYP_XACT_COMPLETE).size() == 2; }));
    auto done = clientEvents(XTYP_XACT_COMPLETE);
    EXPECT_EQ(done[0].info.wType, XTYP_POKE);
    EXPECT_EQ(done[0].lastError, DMLERR_NO_ERROR);
    EXPECT_EQ(done[1].info.wType, XTYP_EXECUTE);
    EXPECT_EQ(done[1].lastError, DMLERR_NO_ERROR);
    EXPECT_EQ(values["Speed"], text("1200"));
    const auto executes = serverEvents(XTYP_EXECUTE);
    ASSERT_EQ(executes.size(), 1u);
    EXPECT_EQ(executes[0].data, text("Reset"));
    EXPECT_EQ(executes[0].topic, kTopic);

    clientLog.clear();
    pokeResult = DDE_FNOTPROCESSED;
    executeResult = DDE_FBUSY;
    ASSERT_NE(startAsync(conv, XTYP_POKE, "Speed", CF_TEXT, text("99")), 0u);
    ASSERT_NE(startAsync(conv, XTYP_EXECUTE, nullptr, CF_TEXT, text("Shutdown")), 0u);
    ASSERT_TRUE(waitFor([&] { return clientEvents(XTYP_XACT_COMPLETE).size() == 2; }));
    done = clientEvents(XTYP_XACT_COMPLETE);
    EXPECT_EQ(done[0].lastError, DMLERR_NOTPROCESSED);
    EXPECT_EQ(done[1].lastError, DMLERR_BUSY);
    EXPECT_EQ(values["Speed"], text("1200"));
}

TEST_F(DdemlConversation, SynchronousPokeAndRequestAnswerFromTheSameThread) {
    values["Mode"] = text("2");
    const HCONV conv = connect();
    const HSZ item = clientHsz("Mode");
    DWORD result = 0;
    std::string value = text("3");
    EXPECT_EQ(DdeClientTransaction(reinterpret_cast<LPBYTE>(value.data()), DWORD(value.size()),
                                   conv, item, CF_TEXT, XTYP_POKE, 5000, &result),
              HDDEDATA(TRUE));
    EXPECT_EQ(result, DWORD(DDE_FACK));
    const HDDEDATA data =
        DdeClientTransaction(nullptr, 0, conv, item, CF_TEXT, XTYP_REQUEST, 5000, &result);
    ASSERT_NE(data, 0u);
    EXPECT_EQ(dataBytes(data), text("3"));
    EXPECT_TRUE(DdeFreeDataHandle(data)); // the caller owns a synchronous answer

    pokeResult = DDE_FBUSY;
    EXPECT_EQ(DdeClientTransaction(reinterpret_cast<LPBYTE>(value.data()), DWORD(value.size()),
                                   conv, item, CF_TEXT, XTYP_POKE, 5000, &result),
              0u);
    EXPECT_EQ(DdeGetLastError(client), DMLERR_BUSY);
    EXPECT_TRUE(clientEvents(XTYP_XACT_COMPLETE).empty());
}

TEST_F(DdemlConversation, AckedAdviseCoalescesToTheLatestValue) {
    values["Level"] = text("0");
    const HCONV conv = connect();
    ASSERT_NE(startAsync(conv, XTYP_ADVSTART | XTYPF_ACKREQ, "Level"), 0u);
    ASSERT_TRUE(waitFor([&] { return !clientEvents(XTYP_XACT_COMPLETE).empty(); }));
    EXPECT_EQ(clientEvents(XTYP_XACT_COMPLETE)[0].info.wType, XTYP_ADVSTART);
    ASSERT_EQ(serverEvents(XTYP_ADVSTART).size(), 1u);

    const HSZ topic = serverHsz(kTopic);
    const HSZ item = serverHsz("LEVEL");
    for (int i = 1; i <= 50; ++i) {
        values["Level"] = text(std::to_string(i).c_str());
        EXPECT_TRUE(DdePostAdvise(server, topic, item));
    }
    ASSERT_TRUE(waitFor([&] {
        const auto data = clientEvents(XTYP_ADVDATA);
        return !data.empty() && data.back().data == text("50");
    }));
    ASSERT_TRUE(barrier(conv));
    const auto data = clientEvents(XTYP_ADVDATA);
    // The first update went out at once; the 49 that came before its
    // acknowledgement collapsed into one carrying the last value.
    ASSERT_EQ(data.size(), 2u);
    EXPECT_EQ(data[0].data, text("1"));
    EXPECT_EQ(data[1].data, text("50"));
    EXPECT_EQ(data[1].item, "Level");
    EXPECT_EQ(data[1].topic, kTopic);
    EXPECT_EQ(serverEvents(XTYP_ADVREQ).size(), 2u);

    // After the acknowledgement a new change goes out at once.
    values["Level"] = text("51");
    DdePostAdvise(server, topic, item);
    ASSERT_TRUE(waitFor([&] { return clientEvents(XTYP_ADVDATA).size() == 3; }));
    EXPECT_EQ(clientEvents(XTYP_ADVDATA)[2].data, text("51"));

    // Stopped: nothing more arrives.
    ASSERT_NE(startAsync(conv, XTYP_ADVSTOP, "Level"), 0u);
    ASSERT_TRUE(waitFor([&] { return serverEvents(XTYP_ADVSTOP).size() == 1; }));
    DdePostAdvise(server, topic, item);
    ASSERT_TRUE(barrier(conv));
    EXPECT_EQ(clientEvents(XTYP_ADVDATA).size(), 3u);
}

TEST_F(DdemlConversation, AdviseWithoutAckSendsEveryUpdate) {
    values["Count"] = text("0");
    const HCONV conv = connect();
    ASSERT_NE(startAsync(conv, XTYP_ADVSTART, "Count"), 0u);
    ASSERT_TRUE(waitFor([&] { return !clientEvents(XTYP_XACT_COMPLETE).empty(); }));
    const HSZ topic = serverHsz(kTopic);
    const HSZ item = serverHsz("Count");
    for (int i = 1; i <= 20; ++i) {
        values["Count"] = text(std::to_string(i).c_str());
        DdePostAdvise(server, topic, item);
    }
    ASSERT_TRUE(waitFor([&] { return clientEvents(XTYP_ADVDATA).size() == 20; }));
    EXPECT_EQ(clientEvents(XTYP_ADVDATA)[19].data, text("20"));
}

TEST_F(DdemlConversation, RefusedAdviseStartFailsAndSendsNothing) {
    acceptAdvise = false;
    values["Level"] = text("1");
    const HCONV conv = connect();
    startAsync(conv, XTYP_ADVSTART | XTYPF_ACKREQ, "Level");
    ASSERT_TRUE(waitFor([&] { return !clientEvents(XTYP_XACT_COMPLETE).empty(); }));
    EXPECT_EQ(clientEvents(XTYP_XACT_COMPLETE)[0].lastError, DMLERR_NOTPROCESSED);
    DdePostAdvise(server, serverHsz(kTopic), serverHsz("Level"));
    ASSERT_TRUE(barrier(conv));
    EXPECT_TRUE(clientEvents(XTYP_ADVDATA).empty());
    EXPECT_TRUE(serverEvents(XTYP_ADVREQ).empty());
}

TEST_F(DdemlConversation, ClientDisconnectReachesTheServer) {
    const HCONV conv = connect();
    ASSERT_TRUE(waitFor([&] { return serverEvents(XTYP_CONNECT_CONFIRM).size() == 1; }));
    const HCONV serverConv = serverEvents(XTYP_CONNECT_CONFIRM)[0].conv;
    EXPECT_TRUE(DdeDisconnect(conv));
    EXPECT_FALSE(DdeDisconnect(conv)); // the handle has ended
    ASSERT_TRUE(waitFor([&] { return serverEvents(XTYP_DISCONNECT).size() == 1; }));
    EXPECT_EQ(serverEvents(XTYP_DISCONNECT)[0].conv, serverConv);
    EXPECT_TRUE(clientEvents(XTYP_DISCONNECT).empty()); // no callback for one's own disconnect
}

TEST_F(DdemlConversation, ServerDisconnectFailsPendingTransactionsThenDisconnects) {
    const HCONV conv = connect();
    ASSERT_TRUE(waitFor([&] { return serverEvents(XTYP_CONNECT_CONFIRM).size() == 1; }));
    const HCONV serverConv = serverEvents(XTYP_CONNECT_CONFIRM)[0].conv;
    // The server drops the conversation while handling the request.
    onServer = [&](const DdeEvent& e) {
        if (e.type == XTYP_REQUEST) {
            DdeDisconnect(serverConv);
        }
    };
    const DWORD id = startAsync(conv, XTYP_REQUEST, "Temp");
    ASSERT_TRUE(waitFor([&] { return !clientEvents(XTYP_DISCONNECT).empty(); }));
    ASSERT_EQ(clientLog.size(), 2u);
    EXPECT_EQ(clientLog[0].type, XTYP_XACT_COMPLETE);
    EXPECT_EQ(clientLog[0].data1, id);
    EXPECT_FALSE(clientLog[0].hasData);
    EXPECT_EQ(clientLog[0].lastError, DMLERR_SERVER_DIED);
    EXPECT_EQ(clientLog[0].info.wType, XTYP_REQUEST);
    EXPECT_EQ(clientLog[1].type, XTYP_DISCONNECT);
    EXPECT_EQ(clientLog[1].conv, conv);
    EXPECT_TRUE(serverEvents(XTYP_DISCONNECT).empty());
    // The conversation is gone for the client too.
    EXPECT_EQ(startAsync(conv, XTYP_REQUEST, "Temp"), 0u);
}

TEST_F(DdemlConversation, AbandonedTransactionNeverCompletes) {
    values["Temp"] = text("1");
    const HCONV conv = connect();
    const DWORD abandoned = startAsync(conv, XTYP_REQUEST, "Temp");
    const DWORD kept = startAsync(conv, XTYP_REQUEST, "Temp");
    EXPECT_TRUE(DdeAbandonTransaction(client, conv, abandoned));
    ASSERT_TRUE(waitFor([&] { return !clientEvents(XTYP_XACT_COMPLETE).empty(); }));
    ASSERT_TRUE(barrier(conv));
    const auto done = clientEvents(XTYP_XACT_COMPLETE);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].data1, kept);
    EXPECT_EQ(serverEvents(XTYP_REQUEST).size(), 3u); // both, and the barrier's

    EXPECT_FALSE(DdeAbandonTransaction(client, conv, kept)); // already completed
    EXPECT_EQ(DdeGetLastError(client), DMLERR_UNFOUND_QUEUE_ID);
}

TEST_F(DdemlConversation, CallbacksMayReenterTheLibrary) {
    values["A"] = text("a");
    values["B"] = text("b");
    const HCONV conv = connect();
    // A completion starts the next request, and the second one disconnects
    // from inside its own completion.
    int completions = 0;
    onClient = [&](const DdeEvent& e) -> HDDEDATA {
        if (e.type == XTYP_XACT_COMPLETE && ++completions == 1) {
            EXPECT_NE(startAsync(conv, XTYP_REQUEST, "B"), 0u);
        } else if (e.type == XTYP_XACT_COMPLETE) {
            EXPECT_TRUE(DdeDisconnect(conv));
            // A pending request of the ended conversation must not complete later.
            EXPECT_EQ(startAsync(conv, XTYP_REQUEST, "A"), 0u);
        }
        return 0;
    };
    startAsync(conv, XTYP_REQUEST, "A");
    startAsync(conv, XTYP_REQUEST, "A");
    ASSERT_TRUE(waitFor([&] { return !serverEvents(XTYP_DISCONNECT).empty(); }));
    // The ended conversation takes no barrier: another one's request is
    // answered after anything still due from the server.
    onClient = nullptr;
    ASSERT_TRUE(barrier(connect()));
    const auto done = clientEvents(XTYP_XACT_COMPLETE);
    ASSERT_EQ(done.size(), 2u);
    EXPECT_EQ(done[0].data, text("a"));
    EXPECT_EQ(done[1].data, text("a"));
    EXPECT_TRUE(clientEvents(XTYP_DISCONNECT).empty());
}

TEST_F(DdemlConversation, UninitializeInsideACallbackEndsEverythingSafely) {
    values["A"] = text("a");
    const HCONV conv = connect();
    onClient = [&](const DdeEvent&) -> HDDEDATA {
        EXPECT_TRUE(DdeUninitialize(client));
        client = 0;
        return 0;
    };
    startAsync(conv, XTYP_REQUEST, "A");
    startAsync(conv, XTYP_REQUEST, "A");
    ASSERT_TRUE(waitFor([&] { return !serverEvents(XTYP_DISCONNECT).empty(); }));
    EXPECT_EQ(clientEvents(XTYP_XACT_COMPLETE).size(), 1u);
}

TEST_F(DdemlConversation, SeveralConversationsOnOneTopicGetTheirOwnAdvises) {
    values["X"] = text("1");
    const HCONV a = connect();
    const HCONV b = connect();
    ASSERT_NE(a, b);
    startAsync(a, XTYP_ADVSTART | XTYPF_ACKREQ, "X");
    startAsync(b, XTYP_ADVSTART | XTYPF_ACKREQ, "X");
    ASSERT_TRUE(waitFor([&] { return clientEvents(XTYP_XACT_COMPLETE).size() == 2; }));
    DdePostAdvise(server, serverHsz(kTopic), serverHsz("X"));
    ASSERT_TRUE(waitFor([&] { return clientEvents(XTYP_ADVDATA).size() == 2; }));
    const auto data = clientEvents(XTYP_ADVDATA);
    EXPECT_NE(data[0].conv, data[1].conv);
    // Another topic's advise reaches neither.
    DdePostAdvise(server, serverHsz("Plant2"), serverHsz("X"));
    ASSERT_TRUE(barrier(a));
    ASSERT_TRUE(barrier(b));
    EXPECT_EQ(clientEvents(XTYP_ADVDATA).size(), 2u);
}

} // namespace
} // namespace orvane::test
