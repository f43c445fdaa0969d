#include "ServerNames.h"

namespace orvane::server::names {

bool isReservedItem(const QString& name) {
    static const char* const fixed[] = {kTopicItemList,   kMutableItemList, kProtocolId,
                                        kSystemId,        kApplicationId,   kProductId,
                                        kConfigurationId, kRunMode,         kControlStatus};
    for (const char* f : fixed) {
        if (name.compare(QLatin1String(f), Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    for (const char* c : kCommands) {
        if (name.compare(QLatin1String(c) + QLatin1String(kResultSuffix), Qt::CaseInsensitive) ==
            0) {
            return true;
        }
    }
    return false;
}

} // namespace orvane::server::names
