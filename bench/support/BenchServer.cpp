#include "BenchServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QStringList>
#include <QTimer>

#include "model/KIServer.h"
#include "platform/Registry.h"

namespace orvane::bench {

namespace {
constexpr int kServerAnswerMs = 30000;
constexpr int kNetworkOpenMs = 60000;
} // namespace

void UsePrivateRunTimeFolders(const QString& root) {
    const QDir dir(root);
    for (const char* sub : {"dde", "registry", "data"}) {
        dir.mkpath(QString::fromLatin1(sub));
    }
    QFile::setPermissions(dir.filePath(QStringLiteral("dde")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("ORVANE_DDE_DIR", dir.filePath(QStringLiteral("dde")).toLocal8Bit());
    qputenv("ORVANE_REGISTRY_DIR", dir.filePath(QStringLiteral("registry")).toLocal8Bit());
    qputenv("ORVANE_DATA_DIR", dir.filePath(QStringLiteral("data")).toLocal8Bit());
}

void RunFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

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
