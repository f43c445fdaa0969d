#include "ServerOptions.h"

#include <QProcessEnvironment>

namespace orvane::server {

namespace {

// Lists in environment variables are separated by '|' (names may hold ';' and ',').
constexpr char kListSeparator = '|';

QStringList envList(const QProcessEnvironment& env, const char* name) {
    const QString text = env.value(QLatin1String(name));
    QStringList out;
    for (const QString& part : text.split(QLatin1Char(kListSeparator), Qt::SkipEmptyParts)) {
        if (!part.trimmed().isEmpty()) {
            out.push_back(part.trimmed());
        }
    }
    return out;
}

bool toMs(const QString& text, int* out) {
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    if (!ok || v < 0) {
        return false;
    }
    *out = v;
    return true;
}

bool envMs(const QProcessEnvironment& env, const char* name, int* out) {
    const QString text = env.value(QLatin1String(name));
    return !text.isEmpty() && toMs(text, out);
}

bool truthy(const QString& text) {
    const QString t = text.trimmed().toLower();
    return t == QLatin1String("1") || t == QLatin1String("yes") || t == QLatin1String("true") ||
           t == QLatin1String("on");
}

bool addFailCommand(const QString& entry, QHash<QString, int>* out) {
    const qsizetype eq = entry.indexOf(QLatin1Char('='));
    if (eq <= 0) {
        return false;
    }
    bool ok = false;
    const int code = entry.mid(eq + 1).trimmed().toInt(&ok);
    if (!ok || code < 0 || code > 255) {
        return false;
    }
    out->insert(entry.left(eq).trimmed().toUpper(), code);
    return true;
}

// Most connections a dropped topic may refuse.
constexpr int kMaxRefusedConnects = 10000;

bool addDropTopic(const QString& entry, QHash<QString, int>* out) {
    const qsizetype eq = entry.indexOf(QLatin1Char('='));
    if (eq <= 0) {
        return false;
    }
    bool ok = false;
    const int count = entry.mid(eq + 1).trimmed().toInt(&ok);
    const QString topic = entry.left(eq).trimmed();
    if (!ok || count < 0 || count > kMaxRefusedConnects || topic.isEmpty()) {
        return false;
    }
    out->insert(topic.toUpper(), count);
    return true;
}

bool containsIgnoringCase(const QStringList& list, const QString& name) {
    for (const QString& entry : list) {
        if (entry.compare(name, Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace

ServerOptions ServerOptions::fromEnvironment() {
    const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    ServerOptions o;
    o.openFiles = envList(env, "DUXLANE_NETWORK");
    o.noDefaultNetwork = truthy(env.value(QStringLiteral("DUXLANE_NO_DEFAULT_NETWORK")));
    envMs(env, "DUXLANE_RESET_TIME_MS", &o.resetTimeMs);
    envMs(env, "DUXLANE_ERASE_TIME_MS", &o.eraseTimeMs);
    envMs(env, "DUXLANE_COMMAND_LATENCY_MS", &o.commandLatencyMs);
    envMs(env, "DUXLANE_TICK_MS", &o.tickMs);
    envMs(env, "DUXLANE_TOPIC_DELAY_MS", &o.topicDelayMs);
    envMs(env, "DUXLANE_REPLY_DELAY_MS", &o.replyDelayMs);
    envMs(env, "DUXLANE_EXIT_AFTER_MS", &o.exitAfterMs);
    o.silentItems = envList(env, "DUXLANE_SILENT_ITEMS");
    o.errorItems = envList(env, "DUXLANE_ERROR_ITEMS");
    o.silentCommands = envList(env, "DUXLANE_SILENT_COMMANDS");
    o.refusedCommands = envList(env, "DUXLANE_REFUSED_COMMANDS");
    for (const QString& entry : envList(env, "DUXLANE_FAIL_COMMANDS")) {
        addFailCommand(entry, &o.failCommands);
    }
    o.deadControls = envList(env, "DUXLANE_DEAD_CONTROLS");
    for (const QString& entry : envList(env, "DUXLANE_DROP_TOPICS")) {
        addDropTopic(entry, &o.dropTopics);
    }
    if (o.tickMs <= 0) {
        o.tickMs = kLiveTickMs;
    }
    return o;
}

bool ServerOptions::parseArguments(const QStringList& arguments, QString* error) {
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        auto next = [&](QString* value) {
            if (i + 1 >= arguments.size()) {
                *error = QStringLiteral("%1 needs a value").arg(arg);
                return false;
            }
            *value = arguments[++i];
            return true;
        };
        auto ms = [&](int* out) {
            QString v;
            if (!next(&v)) {
                return false;
            }
            if (!toMs(v, out)) {
                *error = QStringLiteral("%1 takes milliseconds (0 or more), not '%2'").arg(arg, v);
                return false;
            }
            return true;
        };
        QString v;
        if (arg == QLatin1String("--open")) {
            if (!next(&v)) {
                return false;
            }
            openFiles.push_back(v);
        } else if (arg == QLatin1String("--data-dir")) {
            if (!next(&dataDir)) {
                return false;
            }
        } else if (arg == QLatin1String("--no-default-network")) {
            noDefaultNetwork = true;
        } else if (arg == QLatin1String("--reset-time")) {
            if (!ms(&resetTimeMs)) {
                return false;
            }
        } else if (arg == QLatin1String("--erase-time")) {
            if (!ms(&eraseTimeMs)) {
                return false;
            }
        } else if (arg == QLatin1String("--command-latency")) {
            if (!ms(&commandLatencyMs)) {
                return false;
            }
        } else if (arg == QLatin1String("--tick")) {
            if (!ms(&tickMs)) {
                return false;
            }
            if (tickMs == 0) {
                *error = QStringLiteral("--tick must be above 0");
                return false;
            }
        } else if (arg == QLatin1String("--topic-delay")) {
            if (!ms(&topicDelayMs)) {
                return false;
            }
        } else if (arg == QLatin1String("--reply-delay")) {
            if (!ms(&replyDelayMs)) {
                return false;
            }
        } else if (arg == QLatin1String("--exit-after")) {
            if (!ms(&exitAfterMs)) {
                return false;
            }
        } else if (arg == QLatin1String("--silent-item")) {
            if (!next(&v)) {
                return false;
            }
            silentItems.push_back(v);
        } else if (arg == QLatin1String("--error-item")) {
            if (!next(&v)) {
                return false;
            }
            errorItems.push_back(v);
        } else if (arg == QLatin1String("--silent-command")) {
            if (!next(&v)) {
                return false;
            }
            silentCommands.push_back(v);
        } else if (arg == QLatin1String("--refuse-command")) {
            if (!next(&v)) {
                return false;
            }
            refusedCommands.push_back(v);
        } else if (arg == QLatin1String("--fail-command")) {
            if (!next(&v)) {
                return false;
            }
            if (!addFailCommand(v, &failCommands)) {
                *error =
                    QStringLiteral("--fail-command takes COMMAND=CODE (0 to 255), not '%1'").arg(v);
                return false;
            }
        } else if (arg == QLatin1String("--dead-control")) {
            if (!next(&v)) {
                return false;
            }
            deadControls.push_back(v);
        } else if (arg == QLatin1String("--drop-topic")) {
            if (!next(&v)) {
                return false;
            }
            if (!addDropTopic(v, &dropTopics)) {
                *error = QStringLiteral("--drop-topic takes TOPIC=COUNT (0 to %1), not '%2'")
                             .arg(kMaxRefusedConnects)
                             .arg(v);
                return false;
            }
        } else if (arg == QLatin1String("--no-window-class")) {
            registerWindowClass = false;
        } else if (arg == QLatin1String("--generate-network")) {
            QString count;
            if (!next(&count) || !next(&generateOutput)) {
                *error = QStringLiteral("--generate-network takes an item count and a file name");
                return false;
            }
            bool ok = false;
            generateItems = count.toInt(&ok);
            if (!ok || generateItems < 1 || generateItems > 200000) {
                *error = QStringLiteral("--generate-network takes 1 to 200000 items");
                return false;
            }
            generate = true;
        } else if (arg == QLatin1String("--live-items")) {
            if (!ms(&generateLiveItems)) {
                return false;
            }
        } else {
            *error = QStringLiteral("unknown option '%1'").arg(arg);
            return false;
        }
    }
    return true;
}

QString ServerOptions::usage() {
    return QStringLiteral(
        "Usage: duxlane-server [options]\n"
        "The simulated Duxlane control network server. Started without options by the\n"
        "program; it reopens the network files it opened before (the demo network at\n"
        "its very first start).\n"
        "\n"
        "  --open FILE              open a network definition file (repeatable)\n"
        "  --data-dir DIR           data folder (saved values, remembered networks)\n"
        "  --no-default-network     never open the demo network by itself\n"
        "  --reset-time MS          time a control stays off line after Reset\n"
        "  --erase-time MS          time a control is busy after BeginProgrammingMode\n"
        "  --command-latency MS     time from a command to its result\n"
        "  --tick MS                interval of the live value updates (default 100)\n"
        "Fault injection:\n"
        "  --topic-delay MS         controls become topics only this long after opening\n"
        "  --reply-delay MS         every answer on a control topic comes this much later\n"
        "  --silent-item NAME       requests and pokes of NAME never answer (repeatable)\n"
        "  --error-item NAME        requests, pokes and hot links of NAME are refused\n"
        "  --silent-command NAME    command NAME is taken but never answers\n"
        "  --refuse-command NAME    command NAME is refused (DDE_FNOTPROCESSED)\n"
        "  --fail-command NAME=CODE command NAME answers CODE and does nothing\n"
        "  --dead-control TOPIC     control TOPIC answers \"Control Status\" \"0\" for ever\n"
        "  --drop-topic TOPIC=N     on SIGUSR1 end every conversation on TOPIC and refuse\n"
        "                           the next N connections to it (repeatable)\n"
        "  --exit-after MS          end the server this long after it started\n"
        "Networks:\n"
        "  --generate-network N OUT write a network of one control with N items to OUT\n"
        "  --live-items K           with --generate-network: K of them move (default N/10)\n");
}

bool ServerOptions::isSilentItem(const QString& name) const {
    return !silentItems.isEmpty() && containsIgnoringCase(silentItems, name);
}

bool ServerOptions::isErrorItem(const QString& name) const {
    return !errorItems.isEmpty() && containsIgnoringCase(errorItems, name);
}

bool ServerOptions::isDeadControl(const QString& topic) const {
    return containsIgnoringCase(deadControls, topic);
}

} // namespace orvane::server
