#pragma once

// The names, items and commands of the Duxlane control network server: what
// Orvane sends it and what it relies on in return. The model (server, devices,
// items, commands) and the simulated server both take them from here, so the
// two sides cannot drift apart.
//
// Texts travel zero-terminated in CF_TEXT (Windows-1252) unless noted. Item
// and topic names are matched by the server without regard to letter case.

#include <cstdint>

namespace orvane::duxlane {

// Recognising and starting the server program.
inline constexpr const char* kWindowClass = "Duxlane Server"; // class of its top-level window
// Registry: HKEY_LOCAL_MACHINE key "SOFTWARE\Kestova\DDE Servers\<service>",
// unnamed value = full path of the executable. Started without arguments,
// closed with WM_CLOSE (a termination request).
inline constexpr const char* kRegistrySoftwareKey = "SOFTWARE";
inline constexpr const char* kRegistryMakerKey = "Kestova";
inline constexpr const char* kRegistryServersKey = "DDE Servers";

// Services and the system topic.
inline constexpr const char* kGenericService = "Duxlane";     // answers once the program runs
inline constexpr const char* kNetworkService = "UPCIDuxlane"; // one topic per control
inline constexpr const char* kSystemTopic = "System";
// The entry of the topic list that is not a control (compared ignoring case).
inline constexpr const char* kSystemTopicListEntry = "SYSTEM";

// Generic service, system topic: execute "[open(\"<path>\")]" opens a network
// definition file.
inline constexpr const char* kOpenCommandPrefix = "[open(\"";
inline constexpr const char* kOpenCommandSuffix = "\")]";

// Network service, system topic: requests.
inline constexpr const char* kTopicsItem = "Topics"; // TAB-separated topic names + "SYSTEM"
inline constexpr const char* kConversationCountItem = "Conversation Count"; // decimal
// A conversation count at or below this means only this program's own two
// system conversations remain: a server program it started may be closed.
inline constexpr int kOwnSystemConversations = 2;

// Control topic: name lists, TAB-separated.
inline constexpr const char* kTopicItemListItem = "TopicItemList";     // every item
inline constexpr const char* kMutableItemListItem = "MutableItemList"; // the writable ones
inline constexpr char kListSeparator = '\t';

// Control topic: the attributes of a variable are the request of its full name
// in this clipboard format: class byte, type byte, minimum text, 0, maximum
// text, 0.
inline constexpr std::uint32_t kAttributesFormat = 0x0200; // CF_PRIVATEFIRST
// Class and data-type bytes of the attribute reply.
inline constexpr std::uint8_t kClassUnassigned = 0;
inline constexpr std::uint8_t kClassMonitor = 1;
inline constexpr std::uint8_t kClassTunable = 2;
inline constexpr std::uint8_t kClassConfigure = 3;
inline constexpr std::uint8_t kTypeUnassigned = 0;
inline constexpr std::uint8_t kTypeString = 1;
inline constexpr std::uint8_t kTypeBoolean = 2;
inline constexpr std::uint8_t kTypeInteger = 3;
inline constexpr std::uint8_t kTypeReal = 4;
inline constexpr std::uint8_t kTypeTime = 5;
inline constexpr std::uint8_t kTypeTimer = 6;

// Control topic: identifier and mode items (short texts).
inline constexpr const char* kProtocolIdItem = "Protocol ID";
inline constexpr const char* kSystemIdItem = "System ID";
inline constexpr const char* kApplicationIdItem = "Application ID";
inline constexpr const char* kProductIdItem = "Product ID";
inline constexpr const char* kConfigurationIdItem = "Configuration ID";
inline constexpr const char* kRunModeItem = "Run Mode";             // "1": I/O locked
inline constexpr const char* kControlStatusItem = "Control Status"; // "1": answering
inline constexpr const char* kTrueText = "1";

// Control topic: execute commands. Numbers are unsigned 32-bit decimals
// without leading zeros; program bytes are decimals 0..255 separated by one
// TAB: "BeginProgrammingMode(<address>;<length>)",
// "WriteProgramMemory(<address>;<b>\t<b>...)" ("WriteProgramMemory(<a>;)" for
// no bytes).
inline constexpr const char* kResetCommand = "Reset";
inline constexpr const char* kShutdownCommand = "Shutdown";
inline constexpr const char* kSaveValuesCommand = "SaveValues";
inline constexpr const char* kBeginProgrammingModeCommand = "BeginProgrammingMode";
inline constexpr const char* kEndProgrammingModeCommand = "EndProgrammingMode";
inline constexpr const char* kWriteProgramMemoryCommand = "WriteProgramMemory";
inline constexpr char kArgumentsOpen = '(';
inline constexpr char kArgumentSeparator = ';';
inline constexpr char kArgumentsClose = ')';
inline constexpr char kByteSeparator = '\t';
// The result of a command is a decimal code pushed on "<command>.Result".
inline constexpr const char* kResultSuffix = ".Result";

// Result codes of the commands.
inline constexpr int kResultSuccess = 0;
inline constexpr int kResultNotInConfigureMode = 1; // Reset without I/O lock
inline constexpr int kResultMemoryError = 1;        // SaveValues
inline constexpr int kResultInvalidAddress = 1;     // programming commands
inline constexpr int kResultBlockNotErased = 2;
inline constexpr int kResultAddressOutsideBlock = 3;
inline constexpr int kResultLengthBeyondBlock = 4;
inline constexpr int kResultAddressNotEven = 5;
inline constexpr int kResultLengthNotEven = 6;
inline constexpr int kResultProgramLockout = 7;
inline constexpr int kResultSecurityLockout = 254;
inline constexpr int kResultUnsupportedFunction = 255;

} // namespace orvane::duxlane
