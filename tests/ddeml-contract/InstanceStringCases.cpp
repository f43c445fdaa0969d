// Instances, their error codes, and string handles.

#include "ContractFixture.h"

#include <cstring>

using namespace contract;

namespace {

HDDEDATA CONTRACT_CALLBACK quietCallback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR,
                                         ULONG_PTR) {
    return 0;
}

} // namespace

CONTRACT_CASE(initialize_gives_a_nonzero_instance_id) {
    DWORD inst = 0;
    CHECK_EQ(DdeInitialize(&inst, &quietCallback, APPCLASS_STANDARD, 0), DMLERR_NO_ERROR);
    CHECK(inst != 0);
    CHECK_EQ(DdeGetLastError(inst), DMLERR_NO_ERROR);
    CHECK(DdeUninitialize(inst));
}

CONTRACT_CASE(two_instances_of_one_thread_get_distinct_ids) {
    DWORD a = 0;
    DWORD b = 0;
    DdeInitialize(&a, &quietCallback, APPCLASS_STANDARD, 0);
    DdeInitialize(&b, &quietCallback, APPCMD_CLIENTONLY, 0);
    CHECK(a != 0);
    CHECK(b != 0);
    CHECK(a != b);
    DdeUninitialize(b);
    DdeUninitialize(a);
}

CONTRACT_CASE(uninitialize_of_an_ended_instance_fails) {
    DWORD inst = 0;
    DdeInitialize(&inst, &quietCallback, APPCLASS_STANDARD, 0);
    CHECK(DdeUninitialize(inst));
    CHECK(!DdeUninitialize(inst));
}

CONTRACT_CASE(last_error_of_an_unknown_instance) {
    // No instance there to keep an error: the library says so.
    CHECK_EQ(DdeGetLastError(0x7777), DMLERR_INVALIDPARAMETER);
}

CONTRACT_CASE(last_error_is_cleared_by_reading_it) {
    Pair pair;
    const HCONV conv = pair.connect();
    CHECK(conv != 0);
    DWORD result = 0;
    CHECK(DdeClientTransaction(nullptr, 0, conv, 0, CF_TEXT, XTYP_REQUEST, kTimeoutMs, &result) ==
          0);
    CHECK_EQ(DdeGetLastError(pair.client), DMLERR_INVALIDPARAMETER);
    CHECK_EQ(DdeGetLastError(pair.client), DMLERR_NO_ERROR);
}

CONTRACT_CASE(errors_are_kept_per_instance) {
    Pair pair;
    const HCONV conv = pair.connect();
    DWORD result = 0;
    DdeClientTransaction(nullptr, 0, conv, 0, CF_TEXT, XTYP_REQUEST, kTimeoutMs, &result);
    CHECK_EQ(DdeGetLastError(pair.server), DMLERR_NO_ERROR);
    CHECK_EQ(DdeGetLastError(pair.client), DMLERR_INVALIDPARAMETER);
}

CONTRACT_CASE(client_only_instance_cannot_register_a_service) {
    Pair pair(false);
    // Wine lets a client-only instance offer a service.
    const HDDEDATA done = DdeNameService(pair.client, pair.clientString("Nope"), 0, DNS_REGISTER);
    CHECK_EQ(done != 0, !isStandIn());
    CHECK_EQ(DdeGetLastError(pair.client), isStandIn() ? DMLERR_DLL_USAGE : DMLERR_NO_ERROR);
}

CONTRACT_CASE(client_only_instance_cannot_post_advise) {
    Pair pair(false);
    // As above: Wine accepts it.
    CHECK_EQ(DdePostAdvise(pair.client, pair.clientString(kTopic), pair.clientString("x")),
             isStandIn() ? FALSE : TRUE);
    CHECK_EQ(DdeGetLastError(pair.client), isStandIn() ? DMLERR_DLL_USAGE : DMLERR_NO_ERROR);
}

CONTRACT_CASE(string_handle_of_equal_texts_is_one_handle_regardless_of_case) {
    Pair pair(false);
    const HSZ a = pair.clientString("MotorSpeed");
    const HSZ b = pair.clientString("MOTORSPEED");
    const HSZ c = pair.clientString("motorspeed2");
    CHECK(a != 0);
    CHECK(a == b);
    CHECK(a != c);
}

CONTRACT_CASE(string_handle_keeps_the_first_spelling) {
    Pair pair(false);
    const HSZ a = pair.clientString("ValveOpen");
    pair.clientString("VALVEOPEN");
    CHECK_EQ(pair.clientText(a), std::string("ValveOpen"));
}

CONTRACT_CASE(query_string_without_buffer_gives_the_length) {
    Pair pair(false);
    const HSZ hsz = pair.clientString("Conveyor");
    CHECK_EQ(DdeQueryString(pair.client, hsz, nullptr, 0, CP_WINANSI), DWORD(8));
}

CONTRACT_CASE(query_string_cuts_to_the_buffer_and_terminates) {
    Pair pair(false);
    const HSZ hsz = pair.clientString("Conveyor");
    char buffer[16];
    std::memset(buffer, 'x', sizeof(buffer));
    CHECK_EQ(DdeQueryString(pair.client, hsz, buffer, 4, CP_WINANSI), DWORD(3));
    CHECK_EQ(std::string(buffer), std::string("Con"));
    CHECK_EQ(buffer[4], 'x');
    std::memset(buffer, 'x', sizeof(buffer));
    CHECK_EQ(DdeQueryString(pair.client, hsz, buffer, 9, CP_WINANSI), DWORD(8));
    CHECK_EQ(std::string(buffer, 8), std::string("Conveyor"));
}

CONTRACT_CASE(empty_text_gives_no_string_handle) {
    Pair pair(false);
    CHECK(DdeCreateStringHandle(pair.client, "", CP_WINANSI) == 0);
}

CONTRACT_CASE(compare_string_handles_ignores_case_and_orders_by_text) {
    Pair pair(false);
    const HSZ alpha = pair.clientString("alpha");
    const HSZ beta = pair.clientString("BETA");
    CHECK_EQ(DdeCmpStringHandles(alpha, alpha), 0);
    CHECK_EQ(DdeCmpStringHandles(alpha, beta), -1);
    CHECK_EQ(DdeCmpStringHandles(beta, alpha), 1);
    CHECK_EQ(DdeCmpStringHandles(alpha, pair.clientString("ALPHA")), 0);
}

CONTRACT_CASE(compare_string_handles_puts_no_handle_first) {
    Pair pair(false);
    const HSZ alpha = pair.clientString("alpha");
    CHECK_EQ(DdeCmpStringHandles(0, alpha), -1);
    CHECK_EQ(DdeCmpStringHandles(alpha, 0), 1);
    CHECK_EQ(DdeCmpStringHandles(0, 0), 0);
}

CONTRACT_CASE(string_handle_lives_while_it_has_references) {
    Pair pair(false);
    const HSZ hsz = DdeCreateStringHandle(pair.client, "RefCountedName1", CP_WINANSI);
    CHECK(DdeKeepStringHandle(pair.client, hsz));
    CHECK(DdeFreeStringHandle(pair.client, hsz));
    CHECK_EQ(pair.clientText(hsz), std::string("RefCountedName1"));
    CHECK(DdeFreeStringHandle(pair.client, hsz));
    CHECK_EQ(DdeQueryString(pair.client, hsz, nullptr, 0, CP_WINANSI), DWORD(0));
}

CONTRACT_CASE(string_handles_of_two_instances_compare_equal_by_text) {
    // Windows names a text by one atom in every instance of the process; the
    // stand-in keeps handles per instance and refuses another instance's.
    Pair pair(false);
    const HSZ a = pair.clientString("SharedName");
    const HSZ b = pair.serverString("sharedname");
    CHECK_EQ(DdeCmpStringHandles(a, b), 0);
    if (isStandIn()) {
        CHECK(a != b);
        CHECK_EQ(DdeQueryString(pair.server, a, nullptr, 0, CP_WINANSI), DWORD(0));
    } else {
        CHECK(a == b);
        CHECK_EQ(pair.serverText(a), std::string("SharedName"));
    }
}

CONTRACT_CASE(functions_of_an_unknown_instance_do_nothing) {
    CHECK(DdeCreateStringHandle(0x7777, "x", CP_WINANSI) == 0);
    CHECK(DdeConnect(0x7777, 0, 0, nullptr) == 0);
    CHECK(!DdePostAdvise(0x7777, 0, 0));
    CHECK(DdeNameService(0x7777, 0, 0, DNS_REGISTER) == 0);
}
