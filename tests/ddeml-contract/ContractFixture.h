#pragma once

// A server instance and a client instance on the calling thread, the
// callbacks that record what each sees, and what the server answers.

#include "Contract.h"

#include <functional>
#include <string>
#include <vector>

namespace contract {

constexpr const char* kService = "ContractSvc";
constexpr const char* kTopic = "Plant";
// Synchronous transactions that the partner answers at once.
constexpr DWORD kTimeoutMs = 3000;

// One callback as the application saw it, with its string handles read out.
struct Event {
    UINT type = 0;
    UINT format = 0;
    HCONV conv = 0;
    std::string hsz1;
    std::string hsz2;
    std::string data; // the bytes of hdata, when it was a data handle
    bool hasData = false;
    ULONG_PTR data1 = 0;
    ULONG_PTR data2 = 0;
};

// What the server answers; each case sets what it needs.
struct ServerScript {
    bool acceptConnect = true;
    bool acceptAdvise = true;
    std::string requestValue = "42"; // empty: refuses the request
    DWORD pokeResult = DDE_FACK;
    DWORD executeResult = DDE_FACK;
    std::string adviseValue = "7";
    // Runs first; a true result makes `result` the callback's answer.
    std::function<bool(UINT type, HCONV conv, HSZ hsz1, HSZ hsz2, HDDEDATA data, HDDEDATA& result)>
        hook;
};

// The client side's hook, run after the event is recorded.
using ClientHook = std::function<void(const Event&)>;

class Pair {
public:
    // `registerService`: the server registers kService at once.
    explicit Pair(bool registerService = true, DWORD clientFlags = APPCLASS_STANDARD);
    ~Pair();
    Pair(const Pair&) = delete;
    Pair& operator=(const Pair&) = delete;

    // Another client instance with the client's callback, ended with the pair.
    DWORD addClient();
    HSZ clientString(const char* text);
    HSZ serverString(const char* text);
    // Connects the client to kService/kTopic.
    HCONV connect(const char* topic = kTopic);
    // Let the message loop run (Wine posts acknowledgements after data).
    void settle(int ms = 50) { pumpFor(ms); }

    std::string clientText(HSZ hsz) const;
    std::string serverText(HSZ hsz) const;

    // Synchronous request of `item` as CF_TEXT; the text, or "<null>" on failure.
    std::string request(HCONV conv, const char* item, DWORD timeout = kTimeoutMs);
    HDDEDATA transact(HCONV conv, const char* item, UINT type, const std::string& data,
                      DWORD* result, DWORD timeout = kTimeoutMs);

    int count(const std::vector<Event>& events, UINT type) const;
    const Event* last(const std::vector<Event>& events, UINT type) const;

    DWORD server = 0;
    DWORD client = 0;
    ServerScript script;
    ClientHook clientHook;
    std::vector<Event> serverEvents;
    std::vector<Event> clientEvents;
    HCONV serverConv = 0; // from XTYP_CONNECT_CONFIRM

private:
    std::vector<std::pair<DWORD, HSZ>> m_strings;
    std::vector<DWORD> m_moreClients;
};

// The pair of the running case (the callbacks find it here).
Pair* currentPair();

// The text of a data handle (without its terminating zero).
std::string dataText(HDDEDATA data);
HDDEDATA makeData(DWORD inst, const std::string& text, HSZ item, UINT flags = 0);

} // namespace contract
