// main() of every test executable: an offscreen QApplication (widget tests and
// in-process servers need its event loop) and private run-time folders, so that
// no test sees another's DDE sockets, registry or saved values.

#include "ScriptedDialogService.h"
#include "SoftAssertGuard.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <QApplication>

#include <csignal>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/common_interface_defs.h>
#endif

namespace {

// A test that dies (a sanitizer report, an abort) takes the servers it started
// with it: left running, they would hold the test's output open and ctest
// would wait for them until its time-out.
void endStartedServers() {
    std::signal(SIGTERM, SIG_IGN);
    ::kill(0, SIGTERM);
}

void onFatalSignal(int signal) {
    endStartedServers();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

} // namespace

int main(int argc, char** argv) {
    // The test and every program it starts form one process group, so that a
    // dying test can end them all.
    ::setpgid(0, 0);
#if defined(__SANITIZE_ADDRESS__)
    __sanitizer_set_death_callback(endStartedServers);
#endif
    std::signal(SIGABRT, onFatalSignal);
    std::signal(SIGSEGV, onFatalSignal);
    testing::InitGoogleTest(&argc, argv);
    orvane::test::TestEnvironment env;
    if (!env.isValid()) {
        return 2;
    }
    QApplication app(argc, argv);
    // A dialog that no test asked for fails that test instead of waiting for a
    // user who is not there.
    orvane::test::ScriptedDialogService noUnexpectedDialogs;
    // A broken precondition fails the test that broke it.
    orvane::test::installSoftAssertWatch();
    return RUN_ALL_TESTS();
}
