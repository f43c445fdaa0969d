#include "ContractFixture.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace contract {

namespace {

Pair* g_pair = nullptr;

std::string queryText(DWORD inst, HSZ hsz) {
    if (hsz == 0) {
        return std::string();
    }
    char buffer[256] = {};
    DdeQueryString(inst, hsz, buffer, sizeof(buffer), CP_WINANSI);
    return buffer;
}

Event record(DWORD inst, UINT type, UINT format, HCONV conv, HSZ hsz1, HSZ hsz2, HDDEDATA data,
             ULONG_PTR data1, ULONG_PTR data2) {
    Event e;
    e.type = type;
    e.format = format;
    e.conv = conv;
    // XTYP_CONNECT and XTYP_WILDCONNECT carry a CONVCONTEXT in hdata, not data.
    const bool dataHandle = type == XTYP_POKE || type == XTYP_EXECUTE ||
                            type == XTYP_XACT_COMPLETE || type == XTYP_ADVDATA;
    e.hsz1 = type == XTYP_XACT_COMPLETE || type == XTYP_DISCONNECT ? "" : queryText(inst, hsz1);
    e.hsz2 = type == XTYP_DISCONNECT ? "" : queryText(inst, hsz2);
    if (dataHandle && data != 0 && data != flagsData(TRUE)) {
        e.data = dataText(data);
        e.hasData = true;
    }
    e.data1 = data1;
    e.data2 = data2;
    // CONTRACT_TRACE=1 shows every callback, to see where the libraries part.
    static const bool trace = std::getenv("CONTRACT_TRACE") != nullptr;
    if (trace) {
        std::printf("  [%s] type %04x fmt %u %s/%s data %s%s d1 %llx d2 %llx\n",
                    inst == g_pair->server ? "server" : "client", type, format, e.hsz1.c_str(),
                    e.hsz2.c_str(), e.hasData ? "\"" : "", e.hasData ? e.data.c_str() : "-",
                    (unsigned long long)data1, (unsigned long long)data2);
    }
    return e;
}

HDDEDATA CONTRACT_CALLBACK serverCallback(UINT type, UINT format, HCONV conv, HSZ hsz1, HSZ hsz2,
                                          HDDEDATA data, ULONG_PTR data1, ULONG_PTR data2) {
    Pair* pair = g_pair;
    if (pair == nullptr) {
        return 0;
    }
    pair->serverEvents.push_back(
        record(pair->server, type, format, conv, hsz1, hsz2, data, data1, data2));
    if (pair->script.hook) {
        HDDEDATA result = 0;
        if (pair->script.hook(type, conv, hsz1, hsz2, data, result)) {
            return result;
        }
    }
    const ServerScript& s = pair->script;
    switch (type) {
    case XTYP_CONNECT:
        return flagsData(s.acceptConnect ? TRUE : FALSE);
    case XTYP_CONNECT_CONFIRM:
        pair->serverConv = conv;
        return 0;
    case XTYP_REQUEST:
        return s.requestValue.empty() ? HDDEDATA(0) : makeData(pair->server, s.requestValue, hsz2);
    case XTYP_POKE:
        return flagsData(s.pokeResult);
    case XTYP_EXECUTE:
        return flagsData(s.executeResult);
    case XTYP_ADVSTART:
        return flagsData(s.acceptAdvise ? TRUE : FALSE);
    case XTYP_ADVREQ:
        return makeData(pair->server, s.adviseValue, hsz2);
    default:
        return 0;
    }
}

HDDEDATA CONTRACT_CALLBACK clientCallback(UINT type, UINT format, HCONV conv, HSZ hsz1, HSZ hsz2,
                                          HDDEDATA data, ULONG_PTR data1, ULONG_PTR data2) {
    Pair* pair = g_pair;
    if (pair == nullptr) {
        return 0;
    }
    pair->clientEvents.push_back(
        record(pair->client, type, format, conv, hsz1, hsz2, data, data1, data2));
    if (pair->clientHook) {
        pair->clientHook(pair->clientEvents.back());
    }
    return type == XTYP_ADVDATA ? flagsData(DDE_FACK) : HDDEDATA(0);
}

} // namespace

Pair* currentPair() {
    return g_pair;
}

std::string dataText(HDDEDATA data) {
    const DWORD size = DdeGetData(data, nullptr, 0, 0);
    std::string bytes(size, '\0');
    if (size != 0) {
        DdeGetData(data, reinterpret_cast<LPBYTE>(&bytes[0]), size, 0);
    }
    const auto zero = bytes.find('\0');
    return zero == std::string::npos ? bytes : bytes.substr(0, zero);
}

HDDEDATA makeData(DWORD inst, const std::string& text, HSZ item, UINT flags) {
    std::string bytes = text;
    bytes.push_back('\0');
    return DdeCreateDataHandle(inst, reinterpret_cast<LPBYTE>(&bytes[0]), DWORD(bytes.size()), 0,
                               item, CF_TEXT, flags);
}

Pair::Pair(bool registerService, DWORD clientFlags) {
    g_pair = this;
    DdeInitialize(&server, &serverCallback, APPCLASS_STANDARD, 0);
    DdeInitialize(&client, &clientCallback, clientFlags | APPCMD_CLIENTONLY, 0);
    if (registerService) {
        DdeNameService(server, serverString(kService), 0, DNS_REGISTER);
    }
}

Pair::~Pair() {
    for (auto& [inst, hsz] : m_strings) {
        DdeFreeStringHandle(inst, hsz);
    }
    for (DWORD more : m_moreClients) {
        DdeUninitialize(more);
    }
    DdeUninitialize(client);
    DdeUninitialize(server);
    pumpFor(20);
    g_pair = nullptr;
}

DWORD Pair::addClient() {
    DWORD inst = 0;
    DdeInitialize(&inst, &clientCallback, APPCMD_CLIENTONLY, 0);
    m_moreClients.push_back(inst);
    return inst;
}

HSZ Pair::clientString(const char* text) {
    const HSZ hsz = DdeCreateStringHandle(client, text, CP_WINANSI);
    m_strings.emplace_back(client, hsz);
    return hsz;
}

HSZ Pair::serverString(const char* text) {
    const HSZ hsz = DdeCreateStringHandle(server, text, CP_WINANSI);
    m_strings.emplace_back(server, hsz);
    return hsz;
}

HCONV Pair::connect(const char* topic) {
    const HCONV conv =
        DdeConnect(client, clientString(kService), topic ? clientString(topic) : 0, nullptr);
    settle(20);
    return conv;
}

std::string Pair::clientText(HSZ hsz) const {
    return queryText(client, hsz);
}

std::string Pair::serverText(HSZ hsz) const {
    return queryText(server, hsz);
}

std::string Pair::request(HCONV conv, const char* item, DWORD timeout) {
    DWORD result = 0;
    const HDDEDATA data = DdeClientTransaction(nullptr, 0, conv, clientString(item), CF_TEXT,
                                               XTYP_REQUEST, timeout, &result);
    settle();
    if (data == 0) {
        return "<null>";
    }
    std::string text = dataText(data);
    DdeFreeDataHandle(data);
    return text;
}

HDDEDATA Pair::transact(HCONV conv, const char* item, UINT type, const std::string& data,
                        DWORD* result, DWORD timeout) {
    std::string bytes = data;
    bytes.push_back('\0');
    const HDDEDATA answer = DdeClientTransaction(
        reinterpret_cast<LPBYTE>(&bytes[0]), DWORD(bytes.size()), conv,
        item != nullptr ? clientString(item) : HSZ(0), CF_TEXT, type, timeout, result);
    if (std::getenv("CONTRACT_TRACE") != nullptr) {
        std::printf("  transaction %04x answered %llx result %lx\n", type,
                    (unsigned long long)(ULONG_PTR)answer, (unsigned long)*result);
    }
    settle();
    return answer;
}

int Pair::count(const std::vector<Event>& events, UINT type) const {
    int n = 0;
    for (const Event& e : events) {
        n += e.type == type ? 1 : 0;
    }
    return n;
}

const Event* Pair::last(const std::vector<Event>& events, UINT type) const {
    for (auto it = events.rbegin(); it != events.rend(); ++it) {
        if (it->type == type) {
            return &*it;
        }
    }
    return nullptr;
}

} // namespace contract
