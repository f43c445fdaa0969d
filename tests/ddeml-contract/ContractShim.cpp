// What the two libraries need differently: the message loop, a partner
// thread, and the harness that runs the cases and prints one line each.

#include "Contract.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#ifndef _WIN32
#include <cstdlib>

#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#endif

namespace contract {

namespace {

using Clock = std::chrono::steady_clock;

std::vector<Failure>* g_failures = nullptr;

int msLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : int(left);
}

} // namespace

std::vector<Case*>& registry() {
    static std::vector<Case*> cases;
    return cases;
}

Case::Case(const char* caseName, void (*caseBody)()) : name(caseName), body(caseBody) {
    registry().push_back(this);
}

void fail(const char* file, int line, const std::string& what) {
    const char* base = std::strrchr(file, '/');
    base = base != nullptr ? base + 1 : file;
    if (const char* back = std::strrchr(base, '\\'); back != nullptr) {
        base = back + 1;
    }
    if (g_failures != nullptr) {
        g_failures->push_back({std::string(base) + ":" + std::to_string(line), what});
    }
}

std::vector<PartnerRole*>& roles() {
    static std::vector<PartnerRole*> all;
    return all;
}

PartnerRole::PartnerRole(const char* roleName, int (*roleRun)()) : name(roleName), run(roleRun) {
    roles().push_back(this);
}

void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

#ifdef _WIN32

const char* libraryName() {
    return "windows";
}

bool isStandIn() {
    return false;
}

void pumpFor(int ms) {
    pumpUntil([] { return false; }, ms);
}

bool pumpUntil(const std::function<bool()>& done, int ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (done()) {
            return true;
        }
        const int left = msLeft(deadline);
        if (left == 0) {
            return done();
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, DWORD(left < 10 ? left : 10), QS_ALLINPUT);
    }
}

struct PartnerThread::Impl {
    std::thread thread;
};

struct PartnerProcess::Impl {
    PROCESS_INFORMATION info{};
    bool started = false;
};

PartnerProcess::PartnerProcess(const char* role) : m_impl(new Impl) {
    char exe[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string command = std::string("\"") + exe + "\" --partner " + role;
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    m_impl->started = CreateProcessA(exe, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                     &startup, &m_impl->info) != 0;
}

PartnerProcess::~PartnerProcess() {
    if (m_impl->started) {
        if (WaitForSingleObject(m_impl->info.hProcess, 5000) != WAIT_OBJECT_0) {
            TerminateProcess(m_impl->info.hProcess, 9);
        }
        CloseHandle(m_impl->info.hProcess);
        CloseHandle(m_impl->info.hThread);
    }
    delete m_impl;
}

void dieNow() {
    TerminateProcess(GetCurrentProcess(), 3);
    for (;;) {
    }
}

PartnerThread::PartnerThread(std::function<void()> body) : m_impl(new Impl) {
    m_impl->thread = std::thread(std::move(body));
}

PartnerThread::~PartnerThread() {
    m_impl->thread.join();
    delete m_impl;
}

#else

const char* libraryName() {
    return "orvane";
}

bool isStandIn() {
    return true;
}

void pumpFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool pumpUntil(const std::function<bool()>& done, int ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        const int left = msLeft(deadline);
        if (left == 0) {
            return done();
        }
        pumpFor(left < 5 ? left : 5);
    }
    return true;
}

struct PartnerThread::Impl {
    QThread* thread = nullptr;
};

struct PartnerProcess::Impl {
    pid_t pid = -1;
};

PartnerProcess::PartnerProcess(const char* role) : m_impl(new Impl) {
    const std::string exe = QCoreApplication::applicationFilePath().toStdString();
    char* argv[] = {const_cast<char*>(exe.c_str()), const_cast<char*>("--partner"),
                    const_cast<char*>(role), nullptr};
    if (::posix_spawn(&m_impl->pid, exe.c_str(), nullptr, nullptr, argv, environ) != 0) {
        m_impl->pid = -1;
    }
}

PartnerProcess::~PartnerProcess() {
    if (m_impl->pid > 0) {
        for (int i = 0; i < 500; ++i) {
            if (::waitpid(m_impl->pid, nullptr, WNOHANG) == m_impl->pid) {
                delete m_impl;
                return;
            }
            sleepMs(10);
        }
        ::kill(m_impl->pid, SIGKILL);
        ::waitpid(m_impl->pid, nullptr, 0);
    }
    delete m_impl;
}

void dieNow() {
    std::_Exit(3);
}

PartnerThread::PartnerThread(std::function<void()> body) : m_impl(new Impl) {
    m_impl->thread = QThread::create([body = std::move(body)] {
        QEventLoop loop; // gives the thread its event dispatcher before DDE starts
        body();
    });
    m_impl->thread->start();
}

PartnerThread::~PartnerThread() {
    m_impl->thread->wait();
    delete m_impl->thread;
    delete m_impl;
}

#endif

} // namespace contract

// Runs every case (or those named on the command line) and prints
// "<case> PASS" or "<case> FAIL <where>: <what>" per case, then a summary.
int main(int argc, char** argv) {
#ifndef _WIN32
    QCoreApplication app(argc, argv);
    QTemporaryDir ddeDir;
    if (std::getenv("ORVANE_DDE_DIR") == nullptr) {
        ::setenv("ORVANE_DDE_DIR", QDir(ddeDir.path()).filePath("dde").toLocal8Bit().constData(),
                 1);
    }
#endif
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc == 3 && std::strcmp(argv[1], "--partner") == 0) {
        for (contract::PartnerRole* role : contract::roles()) {
            if (std::strcmp(role->name, argv[2]) == 0) {
                return role->run();
            }
        }
        return 2;
    }
    int passed = 0;
    int failed = 0;
    for (contract::Case* c : contract::registry()) {
        if (argc > 1) {
            bool wanted = false;
            for (int i = 1; i < argc; ++i) {
                wanted = wanted || std::strcmp(argv[i], c->name) == 0;
            }
            if (!wanted) {
                continue;
            }
        }
        std::vector<contract::Failure> failures;
        contract::g_failures = &failures;
        c->body();
        contract::g_failures = nullptr;
        if (failures.empty()) {
            ++passed;
            std::printf("%s PASS\n", c->name);
        } else {
            ++failed;
            std::printf("%s FAIL %s: %s\n", c->name, failures.front().where.c_str(),
                        failures.front().what.c_str());
        }
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
