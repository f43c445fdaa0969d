#pragma once

// How a run of the simulated server is set up: its data folder, the network
// files to open, shortened timings for tests, and the fault injection
// switches. Every setting has a command-line option and an environment
// variable (the launcher starts the server without arguments, so tests and
// demonstrations that go through the program use the environment);
// an option given on the command line wins. docs/duxlane-server.md lists them.

#include <QHash>
#include <QString>
#include <QStringList>

namespace orvane::server {

// Interval of the live value updates (10 Hz).
constexpr int kLiveTickMs = 100;

struct ServerOptions {
    QString dataDir;       // empty: ValueStore::defaultDataDir()
    QStringList openFiles; // opened at start, after the remembered ones
    bool noDefaultNetwork = false;
    QString
        defaultNetwork; // opened at the first start ever; main() points it beside the executable
    bool registerWindowClass = true;

    // Timings (-1: the network file's values).
    int resetTimeMs = -1;
    int eraseTimeMs = -1;
    int commandLatencyMs = -1; // -1: kCommandLatencyMs
    int tickMs = kLiveTickMs;

    // Fault injection.
    int topicDelayMs = 0;             // controls become topics this long after their file opened
    int replyDelayMs = 0;             // every answer on a control topic comes this much later
    QStringList silentItems;          // requests and pokes of these never answer; no hot-link data
    QStringList errorItems;           // requests, pokes and hot links of these are refused
    QStringList silentCommands;       // these commands are taken but their result never comes
    QStringList refusedCommands;      // these commands are refused as transactions
    QHash<QString, int> failCommands; // upper-cased command -> result code answered instead
    QStringList deadControls;         // these controls answer "Control Status" "0" for ever
    // Upper-cased topic -> connections refused after a drop: on a drop request
    // (SIGUSR1 to the process) the server ends every conversation on these
    // topics, as when a control's link breaks, and refuses that many of the
    // next connections to each, while still listing it in "Topics".
    QHash<QString, int> dropTopics;
    int exitAfterMs = -1; // the server ends by itself this long after starting

    // Settings from the environment variables (DUXLANE_*, ORVANE_DATA_DIR via
    // the value store).
    static ServerOptions fromEnvironment();
    // Applies command-line arguments (without the program name) over the
    // current settings. False with *error for an unknown or malformed option.
    // --generate-network sets `generate` (write a network instead of serving).
    bool parseArguments(const QStringList& arguments, QString* error);

    // Generator mode: write a network and exit.
    bool generate = false;
    int generateItems = 0;
    QString generateOutput;
    int generateLiveItems = -1; // -1: the generator's default share

    static QString usage();

    bool isSilentItem(const QString& name) const;
    bool isErrorItem(const QString& name) const;
    bool isDeadControl(const QString& topic) const;
};

} // namespace orvane::server
