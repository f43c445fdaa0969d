#include "ValueStore.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QUrl>

#include "ServerLog.h"

namespace orvane::server {

namespace {

constexpr const char* kNetworkListFile = "networks.list";
constexpr const char* kControlsFolder = "controls";
constexpr const char* kValuesHeader = "duxlane-values 1";
constexpr qint64 kMaxStoreFileBytes = 64 * 1024 * 1024;

QByteArray encode(const QString& text) {
    return QUrl::toPercentEncoding(text, " :()[]&'+,;=!$*");
}

QString decode(const QByteArray& text) {
    return QUrl::fromPercentEncoding(text);
}

bool writeFile(const QString& path, const QByteArray& content, QString* error) {
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        *error = QStringLiteral("cannot create the folder of %1").arg(path);
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    if (file.write(content) != content.size() || !file.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        file.cancelWriting();
        return false;
    }
    return true;
}

} // namespace

ValueStore::ValueStore(QString dataDir) : m_dataDir(std::move(dataDir)) {}

QString ValueStore::defaultDataDir() {
    const QByteArray own = qgetenv("ORVANE_DATA_DIR");
    if (!own.isEmpty()) {
        return QString::fromLocal8Bit(own);
    }
    const QByteArray xdg = qgetenv("XDG_DATA_HOME");
    if (!xdg.isEmpty()) {
        return QString::fromLocal8Bit(xdg) + QStringLiteral("/duxlane-server");
    }
    return QDir::homePath() + QStringLiteral("/.local/share/duxlane-server");
}

QString ValueStore::controlFile(const QString& topic) const {
    // Topics may hold any printable character; percent-encoding keeps them one
    // plain file name each.
    return m_dataDir + QLatin1Char('/') + QLatin1String(kControlsFolder) + QLatin1Char('/') +
           QString::fromLatin1(QUrl::toPercentEncoding(topic.toUpper())) +
           QStringLiteral(".values");
}

std::optional<ValueStore::ControlState> ValueStore::loadControl(const QString& topic) const {
    const QString path = controlFile(topic);
    QFile file(path);
    if (!file.exists()) {
        return std::nullopt;
    }
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxStoreFileBytes) {
        qCWarning(lcServer) << "Saved values of" << topic << "cannot be read from" << path
                            << "; the network file's values are used";
        return std::nullopt;
    }
    const QList<QByteArray> lines = file.readAll().split('\n');
    if (lines.isEmpty() || lines[0].trimmed() != kValuesHeader) {
        qCWarning(lcServer) << "Saved values of" << topic << "in" << path
                            << "are damaged (no header); the network file's values are used";
        return std::nullopt;
    }
    ControlState state;
    for (int i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        if (line.isEmpty()) {
            continue;
        }
        const QList<QByteArray> fields = line.split('\t');
        if (fields[0] == "application-id" && fields.size() == 2) {
            state.applicationId = decode(fields[1]);
        } else if (fields[0] == "value" && fields.size() == 3) {
            state.values.insert(decode(fields[1]).toUpper(), decode(fields[2]));
        } else {
            qCWarning(lcServer) << "Saved values of" << topic << "in" << path << "line" << i + 1
                                << "is damaged; the network file's values are used";
            return std::nullopt;
        }
    }
    return state;
}

bool ValueStore::saveControl(const QString& topic, const ControlState& state,
                             const QHash<QString, QString>& names, QString* error) const {
    QByteArray out = QByteArray(kValuesHeader) + '\n';
    if (!state.applicationId.isEmpty()) {
        out += "application-id\t" + encode(state.applicationId) + '\n';
    }
    // Written in a stable order so that the file is easy to compare.
    QStringList keys = state.values.keys();
    keys.sort();
    for (const QString& key : keys) {
        out += "value\t" + encode(names.value(key, key)) + '\t' + encode(state.values.value(key)) +
               '\n';
    }
    return writeFile(controlFile(topic), out, error);
}

bool ValueStore::hasNetworkList() const {
    return QFile::exists(m_dataDir + QLatin1Char('/') + QLatin1String(kNetworkListFile));
}

QStringList ValueStore::networkList() const {
    QFile file(m_dataDir + QLatin1Char('/') + QLatin1String(kNetworkListFile));
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxStoreFileBytes) {
        return {};
    }
    QStringList paths;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QString path = QString::fromUtf8(line).trimmed();
        if (!path.isEmpty() && !paths.contains(path)) {
            paths.push_back(path);
        }
    }
    return paths;
}

bool ValueStore::rememberNetwork(const QString& absolutePath) {
    QStringList paths = networkList();
    if (paths.contains(absolutePath) && hasNetworkList()) {
        return true;
    }
    paths.push_back(absolutePath);
    QString error;
    if (!writeFile(m_dataDir + QLatin1Char('/') + QLatin1String(kNetworkListFile),
                   paths.join(QLatin1Char('\n')).toUtf8() + '\n', &error)) {
        qCWarning(lcServer).noquote() << "Cannot remember the network file:" << error;
        return false;
    }
    return true;
}

} // namespace orvane::server
