#include "platform/SoftAssert.h"

namespace orvane {

Q_LOGGING_CATEGORY(lcSoftAssert, "orvane.assert")

void softAssertFailed(const char* condition, const char* file, int line) {
    qCCritical(lcSoftAssert, "SOFT ASSERT: \"%s\" in %s:%d", condition, file, line);
}

} // namespace orvane
