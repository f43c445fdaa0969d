#pragma once

// The names the Duxlane server answers to: services, topics, its own items and
// the control commands, taken from the interface that the program's DDE link
// uses, so that the two sides cannot drift apart.

#include <QString>

#include "ddelink/ServerInterface.h"

namespace orvane::server::names {

namespace iface = orvane::duxlane;

constexpr const char* kGenericService = iface::kGenericService;
constexpr const char* kNetworkService = iface::kNetworkService;
constexpr const char* kSystemTopic = iface::kSystemTopic;
constexpr const char* kSystemTopicInList = iface::kSystemTopicListEntry;
constexpr const char* kTopicsItem = iface::kTopicsItem;
constexpr const char* kConversationCountItem = iface::kConversationCountItem;

constexpr const char* kTopicItemList = iface::kTopicItemListItem;
constexpr const char* kMutableItemList = iface::kMutableItemListItem;
constexpr const char* kProtocolId = iface::kProtocolIdItem;
constexpr const char* kSystemId = iface::kSystemIdItem;
constexpr const char* kApplicationId = iface::kApplicationIdItem;
constexpr const char* kProductId = iface::kProductIdItem;
constexpr const char* kConfigurationId = iface::kConfigurationIdItem;
constexpr const char* kRunMode = iface::kRunModeItem;
constexpr const char* kControlStatus = iface::kControlStatusItem;

// In the order of the Command enumeration of SimControl.
constexpr const char* kCommands[] = {iface::kResetCommand,
                                     iface::kShutdownCommand,
                                     iface::kSaveValuesCommand,
                                     iface::kBeginProgrammingModeCommand,
                                     iface::kEndProgrammingModeCommand,
                                     iface::kWriteProgramMemoryCommand};
constexpr const char* kResultSuffix = iface::kResultSuffix;

constexpr unsigned kAttributeFormat = iface::kAttributesFormat;
constexpr const char* kWindowClass = iface::kWindowClass;

// True for the names a control answers itself: the two lists, the
// identification items and the command result items (letter case ignored).
bool isReservedItem(const QString& name);

} // namespace orvane::server::names
