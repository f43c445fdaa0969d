#include "ControlFixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include "TestEnvironment.h"
#include "Wait.h"
#include "ddelink/Synchronizer.h"
#include "model/KIDevice.h"
#include "model/KIDuxlaneControl.h"
#include "model/KIServer.h"
#include "platform/Registry.h"

namespace orvane::test {

namespace {
const QString kTrafficPrefix = QStringLiteral("traffic: ");
constexpr int kTrafficSettleMs = 5000;
} // namespace

bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
    return WaitUntil(condition, timeoutMs);
}

ControlFixture::ControlFixture() = default;

ControlFixture::~ControlFixture() = default;

void ControlFixture::StartServer(const QByteArray& network, const QStringList& arguments) {
    ASSERT_TRUE(m_dir.isValid());
    SimServer::Options options;
    options.arguments = arguments;
    options.environment.insert(QStringLiteral("QT_LOGGING_RULES"),
                               QStringLiteral("orvane.server.traffic.debug=true"));
    ASSERT_TRUE(m_sim.start(m_sim.writeNetwork(network), options))
        << m_sim.errorString().toStdString();
    {
        TRegistry registry(HKEY_LOCAL_MACHINE);
        registry.OpenKey(QStringLiteral("\\SOFTWARE\\Kestova\\DDE Servers\\UPCIDuxlane"), true);
        registry.WriteString(QString(), serverExecutable());
    }
    m_server = std::make_unique<TKIServer>();
    m_server->SetServerName(QStringLiteral("UPCIDuxlane"));
    ASSERT_TRUE(WaitFor([this] { return m_server->IsConnected(); }));
}

TKIDuxlaneControl* ControlFixture::Connect(const QString& topic) {
    auto control = std::make_unique<TKIDuxlaneControl>();
    control->SetServer(m_server.get());
    control->SetIdentifier(topic);
    TKIDuxlaneControl* raw = control.get();
    m_controls.push_back(std::move(control));
    EXPECT_TRUE(WaitFor([raw] { return raw->Active(); }))
        << topic.toStdString() << " never connected";
    return raw;
}

void ControlFixture::MarkTraffic() {
    m_trafficMark = m_sim.output().size();
}

QStringList ControlFixture::Traffic(const QString& last) {
    QStringList lines;
    const auto collect = [&] {
        lines.clear();
        const QStringList all = m_sim.output().mid(m_trafficMark).split(QLatin1Char('\n'));
        for (const QString& line : all) {
            const qsizetype at = line.lastIndexOf(kTrafficPrefix);
            if (at >= 0) {
                lines.append(line.mid(at + kTrafficPrefix.size()).trimmed());
            }
        }
        return last.isEmpty() || lines.contains(last);
    };
    WaitFor(collect, kTrafficSettleMs);
    return lines;
}

QString ControlFixture::WriteFile(const QString& name, const QByteArray& bytes) {
    const QString path = Path(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return path;
}

void ControlFixture::TearDown() {
    for (auto& control : m_controls) {
        control->SetServer(nullptr);
    }
    m_controls.clear();
    m_server.reset();
    m_sim.stop();
}

} // namespace orvane::test
