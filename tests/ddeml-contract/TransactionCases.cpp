// Requests, pokes and executes, synchronous and asynchronous, and their results.

#include "ContractFixture.h"

#include <cstring>

using namespace contract;

namespace {

// The first completion of each transaction, in the order they came. Wine
// completes a request a second time, without data, when the server's
// acknowledgement follows the data; only the first one counts here.
std::vector<Event> completions(const Pair& pair) {
    std::vector<Event> first;
    for (const Event& e : pair.clientEvents) {
        bool seen = false;
        for (const Event& f : first) {
            seen = seen || f.data1 == e.data1;
        }
        if (e.type == XTYP_XACT_COMPLETE && !seen) {
            first.push_back(e);
        }
    }
    return first;
}

} // namespace

CONTRACT_CASE(sync_request_returns_the_servers_data) {
    Pair pair;
    const HCONV conv = pair.connect();
    CHECK_EQ(pair.request(conv, "Speed"), std::string("42"));
    const Event* asked = pair.last(pair.serverEvents, XTYP_REQUEST);
    CHECK(asked != nullptr);
    if (asked != nullptr) {
        CHECK_EQ(asked->hsz1, std::string(kTopic));
        CHECK_EQ(asked->hsz2, std::string("Speed"));
        CHECK_EQ(asked->format, UINT(CF_TEXT));
        CHECK(asked->conv == pair.serverConv);
    }
}

CONTRACT_CASE(sync_request_refused_fails_as_not_processed) {
    Pair pair;
    pair.script.requestValue.clear();
    const HCONV conv = pair.connect();
    CHECK_EQ(pair.request(conv, "Speed"), std::string("<null>"));
    CHECK_EQ(DdeGetLastError(pair.client), DMLERR_NOTPROCESSED);
}

CONTRACT_CASE(request_without_an_item_is_an_invalid_parameter) {
    Pair pair;
    const HCONV conv = pair.connect();
    DWORD result = 0;
    CHECK(DdeClientTransaction(nullptr, 0, conv, 0, CF_TEXT, XTYP_REQUEST, kTimeoutMs, &result) ==
          0);
    CHECK_EQ(DdeGetLastError(pair.client), DMLERR_INVALIDPARAMETER);
    CHECK_EQ(pair.count(pair.serverEvents, XTYP_REQUEST), 0);
}

CONTRACT_CASE(transaction_of_an_unknown_type_is_an_invalid_parameter) {
    Pair pair;
    const HCONV conv = pair.connect();
    DWORD result = 0;
    CHECK(DdeClientTransaction(nullptr, 0, conv, pair.clientString("x"), CF_TEXT, XTYP_CONNECT,
                               kTimeoutMs, &result) == 0);
    CHECK_EQ(DdeGetLastError(pair.client), DMLERR_INVALIDPARAMETER);
}

CONTRACT_CASE(transaction_without_a_conversation_fails) {
    Pair pair;
    DWORD result = 0;
    CHECK(DdeClientTransaction(nullptr, 0, 0, pair.clientString("x"), CF_TEXT, XTYP_REQUEST,
                               kTimeoutMs, &result) == 0);
}

CONTRACT_CASE(sync_poke_acknowledged) {
    Pair pair;
    const HCONV conv = pair.connect();
    DWORD result = 0;
    CHECK(pair.transact(conv, "Setpoint", XTYP_POKE, "12.5", &result) != 0);
    CHECK_EQ(result & DWORD(DDE_FACK), DWORD(DDE_FACK));
    const Event* poke = pair.last(pair.serverEvents, XTYP_POKE);
    CHECK(poke != nullptr);
    if (poke != nullptr) {
        CHECK_EQ(poke->hsz2, std::string("Setpoint"));
        CHECK_EQ(poke->data, std::string("12.5"));
        CHECK_EQ(poke->format, UINT(CF_TEXT));
    }
}

CONTRACT_CASE(sync_poke_busy) {
    Pair pair;
    pair.script.pokeResult = DDE_FBUSY;
    const HCONV conv = pair.connect();
    DWORD result = 0;
    const HDDEDATA answer = pair.transact(conv, "Setpoint", XTYP_POKE, "1", &result);
    CHECK_EQ(result & DWORD(DDE_FBUSY), DWORD(DDE_FBUSY));
    if (isStandIn()) {
        CHECK(answer == 0);
        CHECK_EQ(DdeGetLastError(pair.client), DMLERR_BUSY);
    } else {
        // Wine reports the refused poke as done.
        CHECK(answer != 0);
    }
}

CONTRACT_CASE(sync_poke_not_processed) {
    Pair pair;
    pair.script.pokeResult = DDE_FNOTPROCESSED;
    const HCONV conv = pair.connect();
    DWORD result = 0xFFFF;
    const HDDEDATA answer = pair.transact(conv, "Setpoint", XTYP_POKE, "1", &result);
    CHECK_EQ(result & DWORD(DDE_FACK | DDE_FBUSY), DWORD(0));
    if (isStandIn()) {
        CHECK(answer == 0);
        CHECK_EQ(DdeGetLastError(pair.client), DMLERR_NOTPROCESSED);
    } else {
        CHECK(answer != 0); // as above
    }
}

CONTRACT_CASE(sync_execute_acknowledged_with_the_command_text) {
    Pair pair;
    const HCONV conv = pair.connect();
    DWORD result = 0;
    CHECK(pair.transact(conv, nullptr, XTYP_EXECUTE, "[Start(1)]", &result) != 0);
    CHECK_EQ(result & DWORD(DDE_FACK), DWORD(DDE_FACK));
    const Event* exec = pair.last(pair.serverEvents, XTYP_EXECUTE);
    CHECK(exec != nullptr);
    if (exec != nullptr) {
        CHECK_EQ(exec->data, std::string("[Start(1)]"));
        CHECK_EQ(exec->hsz1, std::string(kTopic));
    }
}

CONTRACT_CASE(sync_execute_busy) {
    Pair pair;
    pair.script.executeResult = DDE_FBUSY;
    const HCONV conv = pair.connect();
    DWORD result = 0;
    CHECK(pair.transact(conv, nullptr, XTYP_EXECUTE, "[Stop]", &result) == 0);
    CHECK_EQ(result & DWORD(DDE_FBUSY), DWORD(DDE_FBUSY));
    // Wine names every refusal of an execute "not processed".
    CHECK_EQ(DdeGetLastError(pair.client), isStandIn() ? DMLERR_BUSY : DMLERR_NOTPROCESSED);
}

CONTRACT_CASE(sync_execute_not_processed) {
    Pair pair;
    pair.script.executeResult = DDE_FNOTPROCESSED;
    const HCONV conv = pair.connect();
    DWORD result = 0;
    CHECK(pair.transact(conv, nullptr, XTYP_EXECUTE, "[Stop]", &result) == 0);
    CHECK_EQ(DdeGetLastError(pair.client), DMLERR_NOTPROCESSED);
}

CONTRACT_CASE(async_request_completes_with_the_data) {
    Pair pair;
    const HCONV conv = pair.connect();
    DWORD id = 0;
    CHECK(DdeClientTransaction(nullptr, 0, conv, pair.clientString("Speed"), CF_TEXT, XTYP_REQUEST,
                               TIMEOUT_ASYNC, &id) != 0);
    CHECK(id != 0);
    pumpUntil([&] { return pair.count(pair.clientEvents, XTYP_XACT_COMPLETE) > 0; }, 2000);
    const auto all = completions(pair);
    const Event* done = all.empty() ? nullptr : &all.front();
    CHECK(done != nullptr);
    if (done != nullptr) {
        CHECK_EQ(done->data, std::string("42"));
        CHECK_EQ(done->hsz2, std::string("Speed"));
        CHECK_EQ(done->data1, ULONG_PTR(id));
        CHECK(done->conv == conv);
        CHECK_EQ(done->format, UINT(CF_TEXT));
    }
}

CONTRACT_CASE(async_poke_completes_acknowledged) {
    Pair pair;
    const HCONV conv = pair.connect();
    DWORD id = 0;
    CHECK(pair.transact(conv, "Setpoint", XTYP_POKE, "3", &id, TIMEOUT_ASYNC) != 0);
    pumpUntil([&] { return pair.count(pair.clientEvents, XTYP_XACT_COMPLETE) > 0; }, 2000);
    const auto all = completions(pair);
    const Event* done = all.empty() ? nullptr : &all.front();
    CHECK(done != nullptr);
    if (done != nullptr) {
        CHECK_EQ(done->data1, ULONG_PTR(id));
        CHECK(!done->hasData);
        // Wine leaves out the acknowledgement's flags.
        CHECK_EQ(done->data2 & ULONG_PTR(DDE_FACK), isStandIn() ? ULONG_PTR(DDE_FACK) : 0u);
    }
}

CONTRACT_CASE(async_poke_busy_completes_with_busy_flag) {
    Pair pair;
    pair.script.pokeResult = DDE_FBUSY;
    const HCONV conv = pair.connect();
    DWORD id = 0;
    pair.transact(conv, "Setpoint", XTYP_POKE, "3", &id, TIMEOUT_ASYNC);
    pumpUntil([&] { return pair.count(pair.clientEvents, XTYP_XACT_COMPLETE) > 0; }, 2000);
    const auto all = completions(pair);
    const Event* done = all.empty() ? nullptr : &all.front();
    CHECK(done != nullptr);
    if (done != nullptr) {
        CHECK_EQ(done->data2 & ULONG_PTR(DDE_FBUSY), isStandIn() ? ULONG_PTR(DDE_FBUSY) : 0u);
        CHECK(!done->hasData);
    }
}

CONTRACT_CASE(async_request_refused_completes_without_data) {
    Pair pair;
    pair.script.requestValue.clear();
    const HCONV conv = pair.connect();
    DWORD id = 0;
    DdeClientTransaction(nullptr, 0, conv, pair.clientString("Speed"), CF_TEXT, XTYP_REQUEST,
                         TIMEOUT_ASYNC, &id);
    pumpUntil([&] { return pair.count(pair.clientEvents, XTYP_XACT_COMPLETE) > 0; }, 2000);
    const auto all = completions(pair);
    const Event* done = all.empty() ? nullptr : &all.front();
    CHECK(done != nullptr);
    if (done != nullptr) {
        CHECK(!done->hasData);
        CHECK_EQ(done->data1, ULONG_PTR(id));
    }
}

CONTRACT_CASE(async_transactions_complete_in_the_order_started) {
    Pair pair;
    const HCONV conv = pair.connect();
    DWORD first = 0;
    DWORD second = 0;
    DdeClientTransaction(nullptr, 0, conv, pair.clientString("One"), CF_TEXT, XTYP_REQUEST,
                         TIMEOUT_ASYNC, &first);
    DdeClientTransaction(nullptr, 0, conv, pair.clientString("Two"), CF_TEXT, XTYP_REQUEST,
                         TIMEOUT_ASYNC, &second);
    CHECK(first != second);
    pumpUntil([&] { return pair.count(pair.clientEvents, XTYP_XACT_COMPLETE) >= 2; }, 2000);
    std::vector<std::string> items;
    for (const Event& e : completions(pair)) {
        items.push_back(e.hsz2);
    }
    // Wine matches every answer to the oldest transaction of the
    // conversation: the first completes (three times), the second never.
    CHECK_EQ(items.size(), std::size_t(isStandIn() ? 2 : 1));
    if (!items.empty()) {
        CHECK_EQ(items[0], std::string("One"));
    }
    if (items.size() == 2) {
        CHECK_EQ(items[1], std::string("Two"));
    }
}

CONTRACT_CASE(abandoned_async_transaction_never_completes) {
    Pair pair;
    const HCONV conv = pair.connect();
    DWORD id = 0;
    DdeClientTransaction(nullptr, 0, conv, pair.clientString("Speed"), CF_TEXT, XTYP_REQUEST,
                         TIMEOUT_ASYNC, &id);
    CHECK(DdeAbandonTransaction(pair.client, conv, id));
    pumpFor(200);
    // Wine still completes an abandoned transaction.
    CHECK_EQ(completions(pair).size(), std::size_t(isStandIn() ? 0 : 1));
}

CONTRACT_CASE(abandon_of_all_transactions_of_a_conversation) {
    Pair pair;
    const HCONV conv = pair.connect();
    DWORD id = 0;
    DdeClientTransaction(nullptr, 0, conv, pair.clientString("One"), CF_TEXT, XTYP_REQUEST,
                         TIMEOUT_ASYNC, &id);
    DdeClientTransaction(nullptr, 0, conv, pair.clientString("Two"), CF_TEXT, XTYP_REQUEST,
                         TIMEOUT_ASYNC, &id);
    CHECK(DdeAbandonTransaction(pair.client, conv, 0));
    pumpFor(200);
    CHECK_EQ(completions(pair).size(), std::size_t(0));
}

CONTRACT_CASE(abandon_of_an_unknown_transaction_fails) {
    Pair pair;
    const HCONV conv = pair.connect();
    // Wine takes any id.
    CHECK_EQ(DdeAbandonTransaction(pair.client, conv, 0x4242), isStandIn() ? FALSE : TRUE);
    CHECK_EQ(DdeGetLastError(pair.client), isStandIn() ? DMLERR_UNFOUND_QUEUE_ID : DMLERR_NO_ERROR);
}

CONTRACT_CASE(conv_info_of_a_pending_async_transaction) {
    Pair pair;
    const HCONV conv = pair.connect();
    DWORD id = 0;
    DdeClientTransaction(nullptr, 0, conv, pair.clientString("Speed"), CF_TEXT, XTYP_REQUEST,
                         TIMEOUT_ASYNC, &id);
    CONVINFO info{};
    info.cb = sizeof(info);
    CHECK(DdeQueryConvInfo(conv, id, &info) != 0);
    // Wine leaves the transaction's type out.
    CHECK_EQ(pair.clientText(info.hszItem), std::string("Speed"));
    CHECK_EQ(info.wType, isStandIn() ? UINT(XTYP_REQUEST) : 0u);
    CHECK_EQ(info.wFmt, UINT(CF_TEXT));
    pumpUntil([&] { return pair.count(pair.clientEvents, XTYP_XACT_COMPLETE) > 0; }, 2000);
}

CONTRACT_CASE(conv_info_of_a_transaction_during_its_completion) {
    Pair pair;
    const HCONV conv = pair.connect();
    UINT type = 0;
    std::string item;
    pair.clientHook = [&](const Event& e) {
        if (e.type != XTYP_XACT_COMPLETE) {
            return;
        }
        CONVINFO info{};
        info.cb = sizeof(info);
        if (DdeQueryConvInfo(e.conv, DWORD(e.data1), &info) != 0) {
            type = info.wType;
            item = pair.clientText(info.hszItem);
        }
    };
    DWORD id = 0;
    DdeClientTransaction(nullptr, 0, conv, pair.clientString("Speed"), CF_TEXT, XTYP_REQUEST,
                         TIMEOUT_ASYNC, &id);
    pumpUntil([&] { return pair.count(pair.clientEvents, XTYP_XACT_COMPLETE) > 0; }, 2000);
    CHECK_EQ(type, isStandIn() ? UINT(XTYP_REQUEST) : 0u); // as above
    CHECK_EQ(item, std::string("Speed"));
}

CONTRACT_CASE(returned_request_data_belongs_to_the_caller) {
    Pair pair;
    const HCONV conv = pair.connect();
    DWORD result = 0;
    const HDDEDATA data = DdeClientTransaction(nullptr, 0, conv, pair.clientString("Speed"),
                                               CF_TEXT, XTYP_REQUEST, kTimeoutMs, &result);
    pair.settle();
    CHECK_EQ(pair.request(conv, "Other"), std::string("42"));
    CHECK_EQ(dataText(data), std::string("42"));
    CHECK(DdeFreeDataHandle(data));
}
