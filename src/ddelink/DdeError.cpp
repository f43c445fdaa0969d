#include "ddelink/DdeError.h"

#include "platform/ddeml.h"

namespace orvane {

QString DdeErrorText(std::uint32_t errorCode) {
    switch (errorCode & 0xFFFF) {
    case DMLERR_NO_ERROR:
        return QStringLiteral("No error found.");
    case DMLERR_ADVACKTIMEOUT:
        return QStringLiteral("Start advise ack timeout.");
    case DMLERR_BUSY:
        return QStringLiteral("Busy.");
    case DMLERR_DATAACKTIMEOUT:
        return QStringLiteral("Data ack timeout.");
    case DMLERR_DLL_NOT_INITIALIZED:
        return QStringLiteral("Dll was not initialized.");
    case DMLERR_DLL_USAGE:
        return QStringLiteral("Dll usage incorrect.");
    case DMLERR_EXECACKTIMEOUT:
        return QStringLiteral("Execute ack timeout.");
    case DMLERR_INVALIDPARAMETER:
        return QStringLiteral("Invalid parameter.");
    case DMLERR_LOW_MEMORY:
        return QStringLiteral("Memory is low.");
    case DMLERR_MEMORY_ERROR:
        return QStringLiteral("Memory error.");
    case DMLERR_NOTPROCESSED:
        return QStringLiteral("Message was not processed.");
    case DMLERR_NO_CONV_ESTABLISHED:
        return QStringLiteral("No conversation was established.");
    case DMLERR_POKEACKTIMEOUT:
        return QStringLiteral("Poke ack timeout.");
    case DMLERR_POSTMSG_FAILED:
        return QStringLiteral("Post message failed.");
    case DMLERR_REENTRANCY:
        return QStringLiteral("Re entrancy.");
    case DMLERR_SERVER_DIED:
        return QStringLiteral("Server died.");
    case DMLERR_SYS_ERROR:
        return QStringLiteral("System error.");
    case DMLERR_UNADVACKTIMEOUT:
        return QStringLiteral("Unadvise ack timeout.");
    case DMLERR_UNFOUND_QUEUE_ID:
        return QStringLiteral("Unfound queue id.");
    default:
        return QStringLiteral("Error code not in list of error values.");
    }
}

} // namespace orvane
