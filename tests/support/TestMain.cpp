// main() of every test executable: an offscreen QApplication (widget tests and
// in-process servers need its event loop) and private run-time folders, so that
// no test sees another's DDE sockets, registry or saved values.

#include "ScriptedDialogService.h"
#include "SoftAssertGuard.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
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
