// Advise links, re-entrant calls from callbacks, time-outs and a partner that
// goes away mid-transaction.

#include "ContractFixture.h"

#include <atomic>
#include <cstring>

using namespace contract;

namespace {

bool startLink(Pair& pair, HCONV conv, const char* item, UINT flags = 0) {
    DWORD result = 0;
    const HDDEDATA ok = DdeClientTransaction(nullptr, 0, conv, pair.clientString(item), CF_TEXT,
                                             XTYP_ADVSTART | flags, kTimeoutMs, &result);
    pair.settle();
    return ok != 0;
}

bool stopLink(Pair& pair, HCONV conv, const char* item) {
    DWORD result = 0;
    const HDDEDATA ok = DdeClientTransaction(nullptr, 0, conv, pair.clientString(item), CF_TEXT,
                                             XTYP_ADVSTOP, kTimeoutMs, &result);
    pair.settle();
    return ok != 0;
}

void post(Pair& pair, const char* item) {
    DdePostAdvise(pair.server, pair.serverString(kTopic), pair.serverString(item));
}

std::vector<std::string> adviseValues(const Pair& pair) {
    std::vector<std::string> values;
    for (const Event& e : pair.clientEvents) {
        if (e.type == XTYP_ADVDATA) {
            values.push_back(e.hasData ? e.data : std::string("<null>"));
        }
    }
    return values;
}

} // namespace

CONTRACT_CASE(hot_link_delivers_the_data_of_each_post) {
    Pair pair;
    const HCONV conv = pair.connect();
    CHECK(startLink(pair, conv, "Level"));
    const Event* start = pair.last(pair.serverEvents, XTYP_ADVSTART);
    CHECK(start != nullptr);
    if (start != nullptr) {
        CHECK_EQ(start->hsz2, std::string("Level"));
        CHECK_EQ(start->format, UINT(CF_TEXT));
    }
    pair.script.adviseValue = "first";
    post(pair, "Level");
    pumpUntil([&] { return adviseValues(pair).size() >= 1; }, 2000);
    pair.script.adviseValue = "second";
    post(pair, "Level");
    pumpUntil([&] { return adviseValues(pair).size() >= 2; }, 2000);
    const auto values = adviseValues(pair);
    CHECK_EQ(values.size(), std::size_t(2));
    if (values.size() == 2) {
        CHECK_EQ(values[0], std::string("first"));
        CHECK_EQ(values[1], std::string("second"));
    }
    const Event* data = pair.last(pair.clientEvents, XTYP_ADVDATA);
    if (data != nullptr) {
        CHECK_EQ(data->hsz2, std::string("Level"));
        CHECK_EQ(data->hsz1, std::string(kTopic));
        CHECK(data->conv == conv);
    }
}

CONTRACT_CASE(advise_request_names_topic_item_and_format) {
    Pair pair;
    const HCONV conv = pair.connect();
    startLink(pair, conv, "Level");
    post(pair, "Level");
    pumpUntil([&] { return adviseValues(pair).size() >= 1; }, 2000);
    const Event* req = pair.last(pair.serverEvents, XTYP_ADVREQ);
    CHECK(req != nullptr);
    if (req != nullptr) {
        CHECK_EQ(req->hsz1, std::string(kTopic));
        CHECK_EQ(req->hsz2, std::string("Level"));
        CHECK_EQ(req->format, UINT(CF_TEXT));
        CHECK_EQ(req->data1, ULONG_PTR(0)); // no more requests of this post to come
    }
}

CONTRACT_CASE(warm_link_delivers_no_data) {
    Pair pair;
    const HCONV conv = pair.connect();
    CHECK(startLink(pair, conv, "Level", XTYPF_NODATA));
    post(pair, "Level");
    pumpUntil([&] { return adviseValues(pair).size() >= 1; }, 2000);
    const auto values = adviseValues(pair);
    CHECK_EQ(values.size(), std::size_t(1));
    if (!values.empty()) {
        CHECK_EQ(values[0], std::string("<null>"));
    }
}

CONTRACT_CASE(advise_start_refused_fails_as_not_processed) {
    Pair pair;
    pair.script.acceptAdvise = false;
    const HCONV conv = pair.connect();
    CHECK(!startLink(pair, conv, "Level"));
    CHECK_EQ(DdeGetLastError(pair.client), DMLERR_NOTPROCESSED);
    post(pair, "Level");
    pumpFor(100);
    CHECK_EQ(adviseValues(pair).size(), std::size_t(0));
}

CONTRACT_CASE(advise_stop_ends_the_link_and_tells_the_server) {
    Pair pair;
    const HCONV conv = pair.connect();
    startLink(pair, conv, "Level");
    CHECK(stopLink(pair, conv, "Level"));
    const Event* stop = pair.last(pair.serverEvents, XTYP_ADVSTOP);
    CHECK(stop != nullptr);
    if (stop != nullptr) {
        CHECK_EQ(stop->hsz2, std::string("Level"));
    }
    post(pair, "Level");
    pumpFor(100);
    CHECK_EQ(adviseValues(pair).size(), std::size_t(0));
    CHECK_EQ(pair.count(pair.serverEvents, XTYP_ADVREQ), 0);
}

CONTRACT_CASE(advise_stop_without_a_link_fails) {
    Pair pair;
    const HCONV conv = pair.connect();
    CHECK(!stopLink(pair, conv, "Level"));
    CHECK_EQ(pair.count(pair.serverEvents, XTYP_ADVSTOP), 0);
}

CONTRACT_CASE(post_advise_reaches_every_linked_item_and_only_those) {
    Pair pair;
    const HCONV conv = pair.connect();
    startLink(pair, conv, "A");
    startLink(pair, conv, "B");
    startLink(pair, conv, "C");
    post(pair, "A");
    post(pair, "C");
    post(pair, "Unlinked");
    pumpUntil([&] { return adviseValues(pair).size() >= 2; }, 2000);
    pumpFor(50);
    std::vector<std::string> items;
    for (const Event& e : pair.clientEvents) {
        if (e.type == XTYP_ADVDATA) {
            items.push_back(e.hsz2);
        }
    }
    CHECK_EQ(items.size(), std::size_t(2));
    if (items.size() == 2) {
        CHECK_EQ(items[0], std::string("A"));
        CHECK_EQ(items[1], std::string("C"));
    }
}

CONTRACT_CASE(post_advise_reaches_every_conversation_on_the_topic) {
    Pair pair;
    const HCONV one = pair.connect();
    const DWORD second = pair.addClient();
    const HCONV two = DdeConnect(second, DdeCreateStringHandle(second, kService, CP_WINANSI),
                                 DdeCreateStringHandle(second, kTopic, CP_WINANSI), nullptr);
    pair.settle();
    CHECK(two != 0);
    startLink(pair, one, "Level");
    DWORD result = 0;
    CHECK(DdeClientTransaction(nullptr, 0, two, DdeCreateStringHandle(second, "Level", CP_WINANSI),
                               CF_TEXT, XTYP_ADVSTART, kTimeoutMs, &result) != 0);
    pair.settle();
    post(pair, "Level");
    pumpUntil([&] { return adviseValues(pair).size() >= 2; }, 2000);
    CHECK_EQ(adviseValues(pair).size(), std::size_t(2));
    CHECK_EQ(pair.count(pair.serverEvents, XTYP_ADVREQ), 2);
}

CONTRACT_CASE(post_advise_of_a_topic_without_conversations_succeeds) {
    Pair pair;
    CHECK(DdePostAdvise(pair.server, pair.serverString("Empty"), pair.serverString("Level")));
    CHECK_EQ(pair.count(pair.serverEvents, XTYP_ADVREQ), 0);
}

CONTRACT_CASE(acknowledged_link_delivers_the_last_value) {
    // Three posts before the client had a chance to acknowledge: however
    // many updates arrive, the last is the latest value.
    Pair pair;
    const HCONV conv = pair.connect();
    CHECK(startLink(pair, conv, "Level", XTYPF_ACKREQ));
    pair.script.adviseValue = "1";
    post(pair, "Level");
    pair.script.adviseValue = "2";
    post(pair, "Level");
    pair.script.adviseValue = "3";
    post(pair, "Level");
    pumpFor(300);
    const auto values = adviseValues(pair);
    CHECK(!values.empty());
    if (!values.empty()) {
        CHECK_EQ(values.back(), std::string("3"));
    }
}

CONTRACT_CASE(acknowledged_link_sends_one_update_per_acknowledgement) {
    // The stand-in asks for the value again only once the client has
    // acknowledged the last update; Windows asks at every post and queues.
    Pair pair;
    const HCONV conv = pair.connect();
    startLink(pair, conv, "Level", XTYPF_ACKREQ);
    for (int i = 1; i <= 3; ++i) {
        pair.script.adviseValue = std::to_string(i);
        post(pair, "Level");
    }
    pumpFor(300);
    const auto values = adviseValues(pair);
    if (isStandIn()) {
        CHECK_EQ(values.size(), std::size_t(2));
        CHECK_EQ(pair.count(pair.serverEvents, XTYP_ADVREQ), 2);
    } else {
        CHECK_EQ(values.size(), std::size_t(3));
        CHECK_EQ(pair.count(pair.serverEvents, XTYP_ADVREQ), 3);
    }
}

CONTRACT_CASE(second_advise_start_of_a_link_renews_it) {
    Pair pair;
    const HCONV conv = pair.connect();
    CHECK(startLink(pair, conv, "Level"));
    CHECK(startLink(pair, conv, "Level"));
    post(pair, "Level");
    pumpUntil([&] { return adviseValues(pair).size() >= 1; }, 2000);
    pumpFor(50);
    CHECK_EQ(adviseValues(pair).size(), std::size_t(1));
}

CONTRACT_CASE(disconnect_ends_the_links_of_the_conversation) {
    Pair pair;
    const HCONV conv = pair.connect();
    startLink(pair, conv, "Level");
    DdeDisconnect(conv);
    pumpUntil([&] { return pair.count(pair.serverEvents, XTYP_DISCONNECT) > 0; }, 2000);
    post(pair, "Level");
    pumpFor(100);
    CHECK_EQ(pair.count(pair.serverEvents, XTYP_ADVREQ), 0);
}

CONTRACT_CASE(server_posts_advise_from_inside_its_callback) {
    Pair pair;
    pair.script.hook = [&](UINT type, HCONV, HSZ, HSZ, HDDEDATA, HDDEDATA& result) {
        if (type != XTYP_POKE) {
            return false;
        }
        pair.script.adviseValue = "after poke";
        DdePostAdvise(pair.server, pair.serverString(kTopic), pair.serverString("Level"));
        result = flagsData(DDE_FACK);
        return true;
    };
    const HCONV conv = pair.connect();
    startLink(pair, conv, "Level");
    DWORD result = 0;
    CHECK(pair.transact(conv, "Level", XTYP_POKE, "9", &result) != 0);
    pumpUntil([&] { return adviseValues(pair).size() >= 1; }, 2000);
    const auto values = adviseValues(pair);
    // Wine's synchronous poke takes the update that comes before its
    // acknowledgement for the answer, and the update is lost.
    CHECK_EQ(values.size(), std::size_t(isStandIn() ? 1 : 0));
    if (!values.empty()) {
        CHECK_EQ(values[0], std::string("after poke"));
    }
}

CONTRACT_CASE(client_starts_a_transaction_from_inside_advise_data) {
    Pair pair;
    const HCONV conv = pair.connect();
    startLink(pair, conv, "Level");
    DWORD id = 0;
    pair.clientHook = [&](const Event& e) {
        if (e.type == XTYP_ADVDATA && id == 0) {
            DdeClientTransaction(nullptr, 0, e.conv, pair.clientString("Follow"), CF_TEXT,
                                 XTYP_REQUEST, TIMEOUT_ASYNC, &id);
        }
    };
    post(pair, "Level");
    pumpUntil([&] { return pair.count(pair.clientEvents, XTYP_XACT_COMPLETE) > 0; }, 2000);
    const Event* done = nullptr;
    for (const Event& e : pair.clientEvents) {
        done = done == nullptr && e.type == XTYP_XACT_COMPLETE ? &e : done;
    }
    CHECK(done != nullptr);
    if (done != nullptr) {
        CHECK_EQ(done->hsz2, std::string("Follow"));
        CHECK_EQ(done->data, std::string("42"));
    }
}

CONTRACT_CASE(client_disconnects_from_inside_its_completion) {
    Pair pair;
    const HCONV conv = pair.connect();
    int completions = 0;
    pair.clientHook = [&](const Event& e) {
        if (e.type == XTYP_XACT_COMPLETE && completions++ == 0) {
            DdeDisconnect(e.conv);
        }
    };
    DWORD id = 0;
    DdeClientTransaction(nullptr, 0, conv, pair.clientString("Speed"), CF_TEXT, XTYP_REQUEST,
                         TIMEOUT_ASYNC, &id);
    pumpUntil([&] { return pair.count(pair.serverEvents, XTYP_DISCONNECT) > 0; }, 2000);
    // Wine completes the request a second time (from the acknowledgement that
    // follows the data) before the disconnect takes effect.
    CHECK_EQ(completions, isStandIn() ? 1 : 2);
    CHECK_EQ(pair.count(pair.serverEvents, XTYP_DISCONNECT), 1);
    CHECK_EQ(pair.count(pair.clientEvents, XTYP_DISCONNECT), 0);
}

CONTRACT_CASE(server_disconnects_during_a_request) {
    Pair pair;
    pair.script.hook = [&](UINT type, HCONV conv, HSZ, HSZ, HDDEDATA, HDDEDATA& result) {
        if (type != XTYP_REQUEST) {
            return false;
        }
        DdeDisconnect(conv);
        result = 0;
        return true;
    };
    const HCONV conv = pair.connect();
    CHECK_EQ(pair.request(conv, "Speed", 1000), std::string("<null>"));
    pumpUntil([&] { return pair.count(pair.clientEvents, XTYP_DISCONNECT) > 0; }, 500);
    // Wine cannot end a conversation from the server side.
    CHECK_EQ(pair.count(pair.clientEvents, XTYP_DISCONNECT), isStandIn() ? 1 : 0);
}

CONTRACT_CASE(server_disconnect_ends_a_pending_async_transaction) {
    Pair pair;
    const HCONV conv = pair.connect();
    pair.script.hook = [&](UINT type, HCONV, HSZ, HSZ, HDDEDATA, HDDEDATA& result) {
        if (type != XTYP_REQUEST) {
            return false;
        }
        DdeDisconnect(pair.serverConv);
        result = 0;
        return true;
    };
    DWORD id = 0;
    DdeClientTransaction(nullptr, 0, conv, pair.clientString("Speed"), CF_TEXT, XTYP_REQUEST,
                         TIMEOUT_ASYNC, &id);
    pumpUntil([&] { return pair.count(pair.clientEvents, XTYP_DISCONNECT) > 0; }, 500);
    pumpFor(50);
    CHECK_EQ(pair.count(pair.clientEvents, XTYP_DISCONNECT), isStandIn() ? 1 : 0); // as above
    // No data for the request, whether or not it completes first.
    const Event* done = pair.last(pair.clientEvents, XTYP_XACT_COMPLETE);
    if (done != nullptr) {
        CHECK(!done->hasData);
    }
}

namespace {

// A server on a thread of its own that can stop answering.
struct SlowPartner {
    std::atomic<bool> ready{false};
    std::atomic<bool> stall{false};
    std::atomic<bool> stalled{false};
    std::atomic<bool> stop{false};
    std::atomic<bool> endInstance{false};
    std::atomic<int> requests{0};
};

SlowPartner* g_slow = nullptr;
DWORD g_slowInst = 0;

HDDEDATA CONTRACT_CALLBACK slowCallback(UINT type, UINT, HCONV, HSZ, HSZ item, HDDEDATA, ULONG_PTR,
                                        ULONG_PTR) {
    switch (type) {
    case XTYP_CONNECT:
        return flagsData(TRUE);
    case XTYP_REQUEST:
        ++g_slow->requests;
        return makeData(g_slowInst, "slow", item);
    case XTYP_POKE:
        return flagsData(DDE_FACK);
    default:
        return 0;
    }
}

void runSlowPartner(SlowPartner* partner) {
    DWORD inst = 0;
    DdeInitialize(&inst, &slowCallback, APPCLASS_STANDARD, 0);
    g_slowInst = inst;
    const HSZ name = DdeCreateStringHandle(inst, "SlowSvc", CP_WINANSI);
    DdeNameService(inst, name, 0, DNS_REGISTER);
    partner->ready = true;
    while (!partner->stop && !partner->endInstance) {
        partner->stalled = partner->stall.load();
        if (partner->stall) {
            sleepMs(5);
        } else {
            pumpFor(5);
        }
    }
    DdeFreeStringHandle(inst, name);
    DdeUninitialize(inst);
    pumpFor(50);
    while (!partner->stop) {
        sleepMs(5);
    }
}

} // namespace

CONTRACT_CASE(sync_request_times_out_when_the_server_does_not_answer) {
    Pair pair(false);
    SlowPartner partner;
    g_slow = &partner;
    {
        PartnerThread thread([&] { runSlowPartner(&partner); });
        pumpUntil([&] { return partner.ready.load(); }, 2000);
        const HCONV conv =
            DdeConnect(pair.client, pair.clientString("SlowSvc"), pair.clientString("T"), nullptr);
        CHECK(conv != 0);
        CHECK_EQ(pair.request(conv, "Item"), std::string("slow"));
        partner.stall = true;
        CHECK(pumpUntil([&] { return partner.stalled.load(); }, 2000));
        CHECK_EQ(pair.request(conv, "Item", 300), std::string("<null>"));
        CHECK_EQ(DdeGetLastError(pair.client), DMLERR_DATAACKTIMEOUT);
        DWORD result = 0;
        CHECK(pair.transact(conv, "Item", XTYP_POKE, "1", &result, 300) == 0);
        CHECK_EQ(DdeGetLastError(pair.client), DMLERR_POKEACKTIMEOUT);
        partner.stall = false;
        pumpFor(100);
        DdeDisconnect(conv);
        partner.stop = true;
    }
    g_slow = nullptr;
}

CONTRACT_CASE(partner_ending_its_instance_disconnects_the_client) {
    Pair pair(false);
    SlowPartner partner;
    g_slow = &partner;
    {
        PartnerThread thread([&] { runSlowPartner(&partner); });
        pumpUntil([&] { return partner.ready.load(); }, 2000);
        const HCONV conv =
            DdeConnect(pair.client, pair.clientString("SlowSvc"), pair.clientString("T"), nullptr);
        CHECK(conv != 0);
        partner.endInstance = true;
        pumpUntil([&] { return pair.count(pair.clientEvents, XTYP_DISCONNECT) > 0; }, 1000);
        // Wine's server side ends without telling its clients.
        CHECK_EQ(pair.count(pair.clientEvents, XTYP_DISCONNECT), isStandIn() ? 1 : 0);
        CHECK_EQ(pair.request(conv, "Item", 300), std::string("<null>"));
        partner.stop = true;
    }
    g_slow = nullptr;
}

namespace {

HDDEDATA CONTRACT_CALLBACK dyingCallback(UINT type, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR,
                                         ULONG_PTR) {
    switch (type) {
    case XTYP_CONNECT:
        return flagsData(TRUE);
    case XTYP_REQUEST:
        dieNow(); // in the middle of the client's transaction
    default:
        return 0;
    }
}

int runDyingPartner() {
    DWORD inst = 0;
    DdeInitialize(&inst, &dyingCallback, APPCLASS_STANDARD, 0);
    const HSZ name = DdeCreateStringHandle(inst, "DyingSvc", CP_WINANSI);
    DdeNameService(inst, name, 0, DNS_REGISTER);
    pumpFor(10000); // a request ends it long before
    DdeUninitialize(inst);
    return 0;
}

const PartnerRole dyingRole("dying", &runDyingPartner);

} // namespace

CONTRACT_CASE(partner_process_dying_mid_request_ends_the_conversation) {
    Pair pair(false);
    PartnerProcess partner("dying");
    const HSZ service = pair.clientString("DyingSvc");
    const HSZ topic = pair.clientString("T");
    HCONV conv = 0;
    pumpUntil(
        [&] {
            conv = DdeConnect(pair.client, service, topic, nullptr);
            return conv != 0;
        },
        10000);
    CHECK(conv != 0);
    DWORD id = 0;
    DdeClientTransaction(nullptr, 0, conv, pair.clientString("Item"), CF_TEXT, XTYP_REQUEST,
                         TIMEOUT_ASYNC, &id);
    pumpUntil([&] { return pair.count(pair.clientEvents, XTYP_DISCONNECT) > 0; }, 2000);
    // The pending request fails, then the conversation ends. Wine tells the
    // client neither: the request stays pending and the conversation open.
    const Event* done = pair.last(pair.clientEvents, XTYP_XACT_COMPLETE);
    CHECK_EQ(done != nullptr, isStandIn());
    if (done != nullptr) {
        CHECK(!done->hasData);
        CHECK_EQ(done->data1, ULONG_PTR(id));
    }
    CHECK_EQ(pair.count(pair.clientEvents, XTYP_DISCONNECT), isStandIn() ? 1 : 0);
    CHECK_EQ(pair.request(conv, "Item", 300), std::string("<null>"));
}
