#pragma once

// One soft assertion for broken preconditions (a programmer's mistake, never
// bad input from a file, the server or the user): the condition is checked,
// a failure is logged with its file and line in the category "orvane.assert",
// and the action recovers (usually a return) instead of crashing:
//
//     ORVANE_ASSERT(index >= 0 && index < Count(), return nullptr);
//     ORVANE_ASSERT(device != nullptr, return);
//
// The test main fails the running test on any such log line, so a broken
// precondition never passes unseen. The action may be empty (`ORVANE_ASSERT(c,
// )`: log and go on).

#include <QLoggingCategory>

namespace orvane {

Q_DECLARE_LOGGING_CATEGORY(lcSoftAssert)

// Logs "SOFT ASSERT: \"condition\" in file:line" in the category above.
void softAssertFailed(const char* condition, const char* file, int line);

} // namespace orvane

#define ORVANE_ASSERT(cond, action)                                                                \
    if (Q_LIKELY(cond)) {                                                                          \
    } else {                                                                                       \
        ::orvane::softAssertFailed(#cond, __FILE__, __LINE__);                                     \
        action;                                                                                    \
    }                                                                                              \
    do {                                                                                           \
    } while (0)
