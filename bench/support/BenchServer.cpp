#include "BenchServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>

#include "model/KIServer.h"
#include "platform/Registry.h"

namespace orvane::bench {

namespace {
constexpr int kServerAnswerMs = 30000;
constexpr int kNetworkOpenMs = 60000;
} // namespace

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

std::unique_ptr<TKIServer> ConnectToServer(const QString& serverExe, const QString& network,
                                           const QString& topic, const char** error) {
    {
        TRegistry registry(HKEY_LOCAL_MACHINE);
        registry.OpenKey(QStringLiteral("\\SOFTWARE\\Kestova\\DDE Servers\\UPCIDuxlane"), true);
        registry.WriteString(QString(), serverExe);
    }
    auto server = std::make_unique<TKIServer>();
    server->SetNetworkDefFiles({network});
    server->SetServerName(QStringLiteral("UPCIDuxlane"));
    if (!WaitUntil([&] { return server->IsConnected(); }, kServerAnswerMs)) {
        *error = "the server did not answer";
        return nullptr;
    }
    QStringList topics;
    if (!WaitUntil(
            [&] {
                server->GetControlTopics(topics);
                return topics.contains(topic);
            },
            kNetworkOpenMs)) {
        *error = "the network did not open";
        return nullptr;
    }
    return server;
}

} // namespace orvane::bench
