// Data handles, connecting, conversation information and name service.

#include "ContractFixture.h"

#include <cstring>

using namespace contract;

CONTRACT_CASE(data_handle_holds_its_bytes) {
    Pair pair(false);
    BYTE bytes[] = {'a', 'b', 'c', 'd', 'e'};
    const HDDEDATA data = DdeCreateDataHandle(pair.client, bytes, 5, 0, 0, CF_TEXT, 0);
    CHECK(data != 0);
    CHECK_EQ(DdeGetData(data, nullptr, 0, 0), DWORD(5));
    DWORD size = 0;
    const LPBYTE at = DdeAccessData(data, &size);
    CHECK(at != nullptr);
    CHECK(size >= 5); // Windows may round up to its allocation unit
    if (at != nullptr) {
        CHECK_EQ(std::string(reinterpret_cast<char*>(at), 5), std::string("abcde"));
    }
    CHECK(DdeUnaccessData(data));
    CHECK(DdeFreeDataHandle(data));
}

CONTRACT_CASE(data_handle_takes_bytes_from_an_offset) {
    Pair pair(false);
    BYTE bytes[] = {'a', 'b', 'c', 'd', 'e'};
    const HDDEDATA data = DdeCreateDataHandle(pair.client, bytes, 3, 2, 0, CF_TEXT, 0);
    char out[4] = {};
    CHECK_EQ(DdeGetData(data, reinterpret_cast<LPBYTE>(out), 3, 0), DWORD(3));
    CHECK_EQ(std::string(out), std::string("cde"));
    DdeFreeDataHandle(data);
}

CONTRACT_CASE(get_data_copies_at_most_the_buffer_from_the_offset) {
    Pair pair(false);
    BYTE bytes[] = {'0', '1', '2', '3', '4', '5', '6', '7'};
    const HDDEDATA data = DdeCreateDataHandle(pair.client, bytes, 8, 0, 0, CF_TEXT, 0);
    char out[8] = {};
    CHECK_EQ(DdeGetData(data, reinterpret_cast<LPBYTE>(out), 3, 2), DWORD(3));
    CHECK_EQ(std::string(out, 3), std::string("234"));
    std::memset(out, 0, sizeof(out));
    CHECK_EQ(DdeGetData(data, reinterpret_cast<LPBYTE>(out), 8, 6), DWORD(2));
    CHECK_EQ(std::string(out, 2), std::string("67"));
    DdeFreeDataHandle(data);
}

CONTRACT_CASE(data_handle_without_bytes_is_zero_filled) {
    Pair pair(false);
    const HDDEDATA data = DdeCreateDataHandle(pair.client, nullptr, 4, 0, 0, CF_TEXT, 0);
    CHECK(data != 0);
    BYTE out[4] = {9, 9, 9, 9};
    CHECK_EQ(DdeGetData(data, out, 4, 0), DWORD(4));
    CHECK_EQ(out[0] + out[1] + out[2] + out[3], 0);
    DdeFreeDataHandle(data);
}

CONTRACT_CASE(add_data_grows_the_handle) {
    Pair pair(false);
    BYTE head[] = {'a', 'b'};
    BYTE tail[] = {'y', 'z'};
    HDDEDATA data = DdeCreateDataHandle(pair.client, head, 2, 0, 0, CF_TEXT, 0);
    data = DdeAddData(data, tail, 2, 4);
    CHECK(data != 0);
    CHECK_EQ(DdeGetData(data, nullptr, 0, 0), DWORD(6));
    BYTE out[6] = {};
    DdeGetData(data, out, 6, 0);
    CHECK_EQ(std::string(reinterpret_cast<char*>(out) + 4, 2), std::string("yz"));
    DdeFreeDataHandle(data);
}

CONTRACT_CASE(app_owned_data_answers_several_requests) {
    Pair pair;
    const HDDEDATA owned =
        makeData(pair.server, "shared", pair.serverString("Item"), HDATA_APPOWNED);
    pair.script.hook = [&](UINT type, HCONV, HSZ, HSZ, HDDEDATA, HDDEDATA& result) {
        if (type != XTYP_REQUEST) {
            return false;
        }
        result = owned;
        return true;
    };
    const HCONV conv = pair.connect();
    CHECK_EQ(pair.request(conv, "Item"), std::string("shared"));
    CHECK_EQ(pair.request(conv, "Item"), std::string("shared"));
    CHECK_EQ(dataText(owned), std::string("shared"));
    CHECK(DdeFreeDataHandle(owned));
}

CONTRACT_CASE(data_handle_as_poke_payload) {
    Pair pair;
    const HCONV conv = pair.connect();
    const HDDEDATA data = makeData(pair.client, "from handle", pair.clientString("Item"));
    DWORD result = 0;
    CHECK(DdeClientTransaction(reinterpret_cast<LPBYTE>(data), DWORD(-1), conv,
                               pair.clientString("Item"), CF_TEXT, XTYP_POKE, kTimeoutMs,
                               &result) != 0);
    pair.settle();
    const Event* poke = pair.last(pair.serverEvents, XTYP_POKE);
    CHECK(poke != nullptr);
    if (poke != nullptr) {
        CHECK_EQ(poke->data, std::string("from handle"));
    }
}

CONTRACT_CASE(connect_to_an_unknown_service_fails) {
    Pair pair(false);
    CHECK(DdeConnect(pair.client, pair.clientString("NoSuchService"), pair.clientString(kTopic),
                     nullptr) == 0);
    CHECK_EQ(DdeGetLastError(pair.client), DMLERR_NO_CONV_ESTABLISHED);
}

CONTRACT_CASE(connect_asks_the_server_then_confirms) {
    Pair pair;
    const HCONV conv = pair.connect();
    CHECK(conv != 0);
    const Event* ask = pair.last(pair.serverEvents, XTYP_CONNECT);
    CHECK(ask != nullptr);
    if (ask != nullptr) {
        CHECK_EQ(ask->hsz1, std::string(kTopic));
        CHECK_EQ(ask->hsz2, std::string(kService));
    }
    const Event* confirm = pair.last(pair.serverEvents, XTYP_CONNECT_CONFIRM);
    CHECK(confirm != nullptr);
    if (confirm != nullptr) {
        CHECK_EQ(confirm->hsz1, std::string(kTopic));
        CHECK(confirm->conv != 0);
    }
}

CONTRACT_CASE(connect_refused_by_the_server_fails) {
    Pair pair;
    pair.script.acceptConnect = false;
    CHECK(pair.connect() == 0);
    CHECK_EQ(DdeGetLastError(pair.client), DMLERR_NO_CONV_ESTABLISHED);
    CHECK_EQ(pair.count(pair.serverEvents, XTYP_CONNECT_CONFIRM), 0);
}

CONTRACT_CASE(connect_names_service_and_topic_in_any_case) {
    Pair pair;
    const HCONV conv = DdeConnect(pair.client, pair.clientString("CONTRACTSVC"),
                                  pair.clientString("plant"), nullptr);
    CHECK(conv != 0);
    const Event* ask = pair.last(pair.serverEvents, XTYP_CONNECT);
    CHECK(ask != nullptr);
    if (ask != nullptr) {
        CHECK_EQ(
            DdeCmpStringHandles(pair.serverString(ask->hsz1.c_str()), pair.serverString(kTopic)),
            0);
    }
}

CONTRACT_CASE(connect_to_any_topic_asks_for_topics_not_a_connection) {
    // No topic named: the server is asked which topics it offers; one that
    // answers nothing is not connected to.
    Pair pair;
    const HCONV conv = pair.connect(nullptr);
    CHECK(conv == 0);
    CHECK_EQ(pair.count(pair.serverEvents, XTYP_CONNECT_CONFIRM), 0);
    CHECK_EQ(pair.count(pair.serverEvents, XTYP_CONNECT), 0);
    CHECK_EQ(pair.count(pair.serverEvents, XTYP_WILDCONNECT), 1);
}

CONTRACT_CASE(connect_to_any_topic_takes_the_first_topic_offered) {
    Pair pair;
    pair.script.hook = [&](UINT type, HCONV, HSZ, HSZ service, HDDEDATA, HDDEDATA& result) {
        if (type != XTYP_WILDCONNECT) {
            return false;
        }
        HSZPAIR pairs[3];
        pairs[0].hszSvc = service;
        pairs[0].hszTopic = pair.serverString("Boiler");
        pairs[1].hszSvc = service;
        pairs[1].hszTopic = pair.serverString("Turbine");
        pairs[2].hszSvc = 0;
        pairs[2].hszTopic = 0;
        result = DdeCreateDataHandle(pair.server, reinterpret_cast<LPBYTE>(pairs), sizeof(pairs), 0,
                                     0, 0, 0);
        return true;
    };
    const HCONV conv = pair.connect(nullptr);
    CHECK(conv != 0);
    // Wine confirms a conversation for every topic offered; the client's is
    // on the first.
    const Event* confirm = nullptr;
    for (const Event& e : pair.serverEvents) {
        confirm = confirm == nullptr && e.type == XTYP_CONNECT_CONFIRM ? &e : confirm;
    }
    CHECK(confirm != nullptr);
    if (confirm != nullptr) {
        CHECK_EQ(confirm->hsz1, std::string("Boiler"));
    }
    CONVINFO info{};
    info.cb = sizeof(info);
    DdeQueryConvInfo(conv, QID_SYNC, &info);
    CHECK_EQ(pair.clientText(info.hszTopic), std::string("Boiler"));
    CHECK_EQ(pair.request(conv, "Item"), std::string("42"));
    const Event* asked = pair.last(pair.serverEvents, XTYP_REQUEST);
    if (asked != nullptr) {
        CHECK_EQ(asked->hsz1, std::string("Boiler"));
    }
}

CONTRACT_CASE(conv_info_of_the_client_side) {
    Pair pair;
    const HCONV conv = pair.connect();
    CONVINFO info{};
    info.cb = sizeof(info);
    CHECK_EQ(DdeQueryConvInfo(conv, QID_SYNC, &info), UINT(sizeof(info)));
    CHECK_EQ(pair.clientText(info.hszSvcPartner), std::string(kService));
    CHECK_EQ(pair.clientText(info.hszTopic), std::string(kTopic));
    CHECK((info.wStatus & ST_CONNECTED) != 0);
    CHECK((info.wStatus & ST_CLIENT) != 0);
    CHECK((info.wStatus & ST_ISLOCAL) != 0);
    CHECK((info.wStatus & ST_ADVISE) == 0);
}

CONTRACT_CASE(conv_info_of_the_server_side) {
    Pair pair;
    pair.connect();
    CHECK(pair.serverConv != 0);
    CONVINFO info{};
    info.cb = sizeof(info);
    CHECK(DdeQueryConvInfo(pair.serverConv, QID_SYNC, &info) != 0);
    CHECK((info.wStatus & ST_CONNECTED) != 0);
    CHECK((info.wStatus & ST_CLIENT) == 0);
    CHECK_EQ(pair.serverText(info.hszTopic), std::string(kTopic));
}

CONTRACT_CASE(conv_info_shows_advise_links) {
    Pair pair;
    const HCONV conv = pair.connect();
    DWORD result = 0;
    DdeClientTransaction(nullptr, 0, conv, pair.clientString("Level"), CF_TEXT, XTYP_ADVSTART,
                         kTimeoutMs, &result);
    pair.settle();
    CONVINFO info{};
    info.cb = sizeof(info);
    DdeQueryConvInfo(conv, QID_SYNC, &info);
    CHECK((info.wStatus & ST_ADVISE) != 0);
}

CONTRACT_CASE(conv_info_of_an_unknown_transaction_fails) {
    Pair pair;
    const HCONV conv = pair.connect();
    CONVINFO info{};
    info.cb = sizeof(info);
    CHECK_EQ(DdeQueryConvInfo(conv, 0x5555, &info), UINT(0));
    CHECK_EQ(DdeGetLastError(pair.client), DMLERR_UNFOUND_QUEUE_ID);
}

CONTRACT_CASE(client_disconnect_reaches_the_server) {
    Pair pair;
    const HCONV conv = pair.connect();
    CHECK(DdeDisconnect(conv));
    pumpUntil([&] { return pair.count(pair.serverEvents, XTYP_DISCONNECT) > 0; }, 2000);
    CHECK_EQ(pair.count(pair.serverEvents, XTYP_DISCONNECT), 1);
    CHECK_EQ(pair.count(pair.clientEvents, XTYP_DISCONNECT), 0);
    CHECK(!DdeDisconnect(conv));
}

CONTRACT_CASE(server_disconnect_reaches_the_client) {
    Pair pair;
    const HCONV conv = pair.connect();
    // Wine cannot end a conversation from the server side yet.
    CHECK_EQ(DdeDisconnect(pair.serverConv), isStandIn() ? TRUE : FALSE);
    pumpUntil([&] { return pair.count(pair.clientEvents, XTYP_DISCONNECT) > 0; }, 500);
    const Event* gone = pair.last(pair.clientEvents, XTYP_DISCONNECT);
    CHECK_EQ(gone != nullptr, isStandIn());
    if (gone != nullptr) {
        CHECK(gone->conv == conv);
    }
    CHECK_EQ(pair.count(pair.serverEvents, XTYP_DISCONNECT), 0);
}

CONTRACT_CASE(server_uninitialize_disconnects_its_clients) {
    Pair pair;
    pair.connect();
    DdeUninitialize(pair.server);
    pumpUntil([&] { return pair.count(pair.clientEvents, XTYP_DISCONNECT) > 0; }, 500);
    // As above: Wine's server side leaves its clients without a word.
    CHECK_EQ(pair.count(pair.clientEvents, XTYP_DISCONNECT), isStandIn() ? 1 : 0);
}

CONTRACT_CASE(transaction_on_an_ended_conversation_fails) {
    Pair pair;
    const HCONV conv = pair.connect();
    CHECK(DdeDisconnect(conv));
    pair.settle();
    CHECK_EQ(pair.request(conv, "Item"), std::string("<null>"));
}

CONTRACT_CASE(name_service_register_twice_by_one_instance_fails) {
    Pair pair;
    CHECK(DdeNameService(pair.server, pair.serverString(kService), 0, DNS_REGISTER) == 0);
    CHECK_EQ(DdeGetLastError(pair.server), DMLERR_DLL_USAGE);
    CHECK(pair.connect() != 0); // the first registration stands
}

CONTRACT_CASE(name_service_unregister_stops_new_connections) {
    Pair pair;
    CHECK(DdeNameService(pair.server, pair.serverString(kService), 0, DNS_UNREGISTER) != 0);
    pair.settle();
    CHECK(pair.connect() == 0);
}

CONTRACT_CASE(name_service_unregister_of_all_names) {
    Pair pair;
    CHECK(DdeNameService(pair.server, 0, 0, DNS_UNREGISTER) != 0);
    pair.settle();
    CHECK(pair.connect() == 0);
}

CONTRACT_CASE(name_service_unregister_keeps_open_conversations) {
    Pair pair;
    const HCONV conv = pair.connect();
    DdeNameService(pair.server, pair.serverString(kService), 0, DNS_UNREGISTER);
    pair.settle();
    // Wine's conversations end with the name, silently.
    CHECK_EQ(pair.request(conv, "Item"), std::string(isStandIn() ? "42" : "<null>"));
    CHECK_EQ(pair.count(pair.clientEvents, XTYP_DISCONNECT), 0);
}

CONTRACT_CASE(name_service_register_announces_to_the_instances_of_the_thread) {
    Pair pair(false);
    DdeNameService(pair.server, pair.serverString("Announced"), 0, DNS_REGISTER);
    pumpUntil([&] { return pair.count(pair.clientEvents, XTYP_REGISTER) > 0; }, 1000);
    const Event* reg = pair.last(pair.clientEvents, XTYP_REGISTER);
    CHECK(reg != nullptr);
    if (reg != nullptr) {
        CHECK_EQ(reg->hsz1, std::string("Announced"));
    }
    DdeNameService(pair.server, pair.serverString("Announced"), 0, DNS_UNREGISTER);
    pumpUntil([&] { return pair.count(pair.clientEvents, XTYP_UNREGISTER) > 0; }, 1000);
    CHECK_EQ(pair.count(pair.clientEvents, XTYP_UNREGISTER), 1);
}
