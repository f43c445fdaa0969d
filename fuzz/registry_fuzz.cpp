// Reads arbitrary bytes as a registry file (a user may edit one by hand):
// every key and value must be readable without a crash, and writing a new
// value must keep every value that could be read before.

#include <cstdint>
#include <cstdlib>
#include <map>
#include <tuple>

#include <QFile>
#include <QTemporaryDir>

#include "platform/Registry.h"

namespace {

using Snapshot = std::map<QString, std::tuple<int, QString>>;

constexpr int kMaxDepth = 6;
constexpr int kMaxKeys = 200;

void collect(orvane::TRegistry& reg, const QString& path, int depth, Snapshot& out, int& keys) {
    if (depth > kMaxDepth || ++keys > kMaxKeys || !reg.OpenKeyReadOnly(QLatin1Char('\\') + path)) {
        return;
    }
    for (const QString& name : reg.GetValueNames()) {
        QString text;
        const orvane::TRegDataType type = reg.GetDataType(name);
        try {
            text = type == orvane::rdInteger ? QString::number(reg.ReadInteger(name))
                                             : reg.ReadString(name);
        } catch (const orvane::ERegistryException&) {
            text = QStringLiteral("<unreadable>");
        }
        out[path.toUpper() + QLatin1Char('|') + name.toUpper()] = {type, text};
    }
    for (const QString& sub : reg.GetKeyNames()) {
        reg.OpenKeyReadOnly(QLatin1Char('\\') + path);
        collect(reg, path.isEmpty() ? sub : path + QLatin1Char('\\') + sub, depth + 1, out, keys);
    }
}

Snapshot snapshot() {
    orvane::TRegistry reg(orvane::HKEY_CURRENT_USER);
    Snapshot out;
    int keys = 0;
    collect(reg, QString(), 0, out, keys);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Never the user's own registry.
    static QTemporaryDir folder;
    static const bool ready = [] {
        qputenv("ORVANE_REGISTRY_DIR", folder.path().toLocal8Bit());
        return folder.isValid();
    }();
    if (!ready) {
        std::abort();
    }
    {
        QFile file(orvane::registryFileOf(orvane::HKEY_CURRENT_USER));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            std::abort();
        }
        file.write(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    }
    const Snapshot before = snapshot();

    orvane::TRegistry reg(orvane::HKEY_CURRENT_USER);
    if (!reg.OpenKey(QStringLiteral("\\Fuzz Probe"), true)) {
        std::abort();
    }
    reg.WriteInteger(QStringLiteral("Probe"), 7);

    Snapshot after = snapshot();
    after.erase(QStringLiteral("FUZZ PROBE|PROBE"));
    if (before.count(QStringLiteral("FUZZ PROBE|PROBE")) == 0 && after != before) {
        std::abort(); // writing lost or changed a value that was readable
    }
    return 0;
}
