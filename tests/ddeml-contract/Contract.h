#pragma once

// The DDE contract suite: cases written against the DDEML API alone, built
// once against Orvane's DDE library and once with MinGW against the Windows
// headers (run under Wine), so that both libraries answer the same questions.
// Only this header and ContractShim.cpp know which library is underneath.

#ifdef _WIN32
#include <windows.h>
// windows.h first: ddeml.h needs its types.
#include <ddeml.h>
#define CONTRACT_CALLBACK CALLBACK
#else
#include "platform/ddeml.h"
#define CONTRACT_CALLBACK
#endif

#include <functional>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace contract {

// Which library the cases run against: "orvane" or "windows".
const char* libraryName();
bool isStandIn();

// Runs this thread's message loop (the stand-in: its event loop) for `ms`.
void pumpFor(int ms);
// Runs the message loop until `done` holds or `ms` have passed; returns `done()`.
bool pumpUntil(const std::function<bool()>& done, int ms);
void sleepMs(int ms);

// A partner on a thread of its own, running `body` there; joined by the destructor.
class PartnerThread {
public:
    explicit PartnerThread(std::function<void()> body);
    ~PartnerThread();
    PartnerThread(const PartnerThread&) = delete;
    PartnerThread& operator=(const PartnerThread&) = delete;

private:
    struct Impl;
    Impl* m_impl;
};

// This program started again as a partner process (`--partner <role>`);
// partnerRole() tells the started program which role it plays.
class PartnerProcess {
public:
    explicit PartnerProcess(const char* role);
    ~PartnerProcess(); // waits for the process to end
    PartnerProcess(const PartnerProcess&) = delete;
    PartnerProcess& operator=(const PartnerProcess&) = delete;

private:
    struct Impl;
    Impl* m_impl;
};
// Ends the process at once, as a crash would: no clean-up, no goodbye.
[[noreturn]] void dieNow();
// Runs a partner role; registered by the cases that use one.
struct PartnerRole {
    PartnerRole(const char* name, int (*run)());
    const char* name;
    int (*run)();
};

// A failed check of the running case.
struct Failure {
    std::string where;
    std::string what;
};

class Case {
public:
    Case(const char* name, void (*body)());
    const char* name;
    void (*body)();
};

std::vector<Case*>& registry();
void fail(const char* file, int line, const std::string& what);

// A callback result or transaction answer made of DDE_* flags or TRUE.
inline HDDEDATA flagsData(ULONG_PTR flags) {
    return HDDEDATA(flags);
}

template <class T>
constexpr bool kComparableNumber =
    std::is_integral_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, char>;

template <class A, class B>
void checkEqual(const A& a, const B& b, const char* as, const char* bs, const char* file,
                int line) {
    bool equal;
    if constexpr (kComparableNumber<A> && kComparableNumber<B>) {
        equal = std::cmp_equal(a, b);
    } else {
        equal = a == b;
    }
    if (!equal) {
        std::ostringstream out;
        out << as << " == " << bs << " (" << +a << " vs " << +b << ")";
        fail(file, line, out.str());
    }
}

inline void checkEqual(const std::string& a, const std::string& b, const char* as, const char* bs,
                       const char* file, int line) {
    if (a != b) {
        fail(file, line, std::string(as) + " == " + bs + " (\"" + a + "\" vs \"" + b + "\")");
    }
}

} // namespace contract

#define CONTRACT_CASE(name)                                                                        \
    static void contract_##name();                                                                 \
    static contract::Case contract_case_##name(#name, &contract_##name);                           \
    static void contract_##name()

#define CHECK(cond)                                                                                \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            contract::fail(__FILE__, __LINE__, #cond);                                             \
        }                                                                                          \
    } while (false)

#define CHECK_EQ(a, b) contract::checkEqual((a), (b), #a, #b, __FILE__, __LINE__)
