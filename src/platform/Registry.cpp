#include "platform/Registry.h"

#include <algorithm>
#include <vector>

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QSaveFile>

#include "platform/PlatformLog.h"

namespace orvane {

namespace {

const QChar kSep = QLatin1Char('\\');

struct RegValue {
    QString name;
    TRegDataType type = rdUnknown;
    QString text;             // rdString
    std::int32_t integer = 0; // rdInteger
    QString raw;              // rdUnknown: the data as found in the file
};

struct RegKey {
    QString path;
    std::vector<RegValue> values;
    QStringList rawLines; // lines of this section that could not be understood
};

bool samePath(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Whether path lies strictly below ancestor ("" is the root).
bool isBelow(const QString& ancestor, const QString& path) {
    if (ancestor.isEmpty()) {
        return !path.isEmpty();
    }
    return path.size() > ancestor.size() && path[ancestor.size()] == kSep &&
           path.startsWith(ancestor, Qt::CaseInsensitive);
}

// Joins the non-empty components of a backslash path; false when a component
// holds a character a key name cannot have here (control characters).
bool normalizePath(const QString& path, QString& out) {
    QStringList parts;
    for (const QString& part : path.split(kSep, Qt::SkipEmptyParts)) {
        for (QChar c : part) {
            if (c.unicode() < 0x20 || c == QChar(0x7F)) {
                return false;
            }
        }
        parts.append(part);
    }
    out = parts.join(kSep);
    return true;
}

QString quote(const QString& text) {
    QString out;
    out.reserve(text.size() + 2);
    out.append(QLatin1Char('"'));
    for (QChar c : text) {
        switch (c.unicode()) {
        case '\\':
            out.append(QLatin1String("\\\\"));
            break;
        case '"':
            out.append(QLatin1String("\\\""));
            break;
        case '\n':
            out.append(QLatin1String("\\n"));
            break;
        case '\r':
            out.append(QLatin1String("\\r"));
            break;
        default:
            out.append(c);
        }
    }
    out.append(QLatin1Char('"'));
    return out;
}

// Reads a quoted text starting at pos (at the opening quote); pos ends after
// the closing quote. False when the text is not closed.
bool unquote(const QString& line, qsizetype& pos, QString& out) {
    out.clear();
    for (qsizetype i = pos + 1; i < line.size(); ++i) {
        const QChar c = line[i];
        if (c == QLatin1Char('"')) {
            pos = i + 1;
            return true;
        }
        if (c == kSep && i + 1 < line.size()) {
            const QChar e = line[++i];
            out.append(e == QLatin1Char('n')   ? QChar('\n')
                       : e == QLatin1Char('r') ? QChar('\r')
                                               : e);
        } else {
            out.append(c);
        }
    }
    return false;
}

bool parseValue(const QString& line, RegValue& value) {
    qsizetype pos = 0;
    if (line.startsWith(QLatin1Char('@'))) {
        value.name.clear();
        pos = 1;
    } else if (line.startsWith(QLatin1Char('"'))) {
        if (!unquote(line, pos, value.name)) {
            return false;
        }
    } else {
        return false;
    }
    while (pos < line.size() && line[pos].isSpace()) {
        ++pos;
    }
    if (pos >= line.size() || line[pos] != QLatin1Char('=')) {
        return false;
    }
    const QString data = line.mid(pos + 1).trimmed();
    value.raw = data;
    value.type = rdUnknown;
    if (data.startsWith(QLatin1Char('"'))) {
        qsizetype end = 0;
        QString text;
        if (unquote(data, end, text) && end == data.size()) {
            value.type = rdString;
            value.text = text;
        }
    } else if (data.startsWith(QLatin1String("dword:"), Qt::CaseInsensitive)) {
        const QString digits = data.mid(6);
        bool ok = false;
        const uint number = digits.toUInt(&ok, 16);
        if (ok && !digits.isEmpty() && digits.size() <= 8 && !digits.startsWith(QLatin1Char('+')) &&
            !digits.startsWith(QLatin1Char('-'))) {
            value.type = rdInteger;
            value.integer = static_cast<std::int32_t>(number);
        }
    }
    return true;
}

QString valueLine(const RegValue& value) {
    QString line = value.name.isEmpty() ? QStringLiteral("@") : quote(value.name);
    line.append(QLatin1Char('='));
    switch (value.type) {
    case rdString:
        line.append(quote(value.text));
        break;
    case rdInteger:
        line.append(QStringLiteral("dword:%1")
                        .arg(static_cast<std::uint32_t>(value.integer), 8, 16, QLatin1Char('0')));
        break;
    case rdUnknown:
        line.append(value.raw);
        break;
    }
    return line;
}

// One root's file in memory.
class Hive {
public:
    explicit Hive(HKEY root) : m_file(registryFileOf(root)) {}

    bool valid() const { return !m_file.isEmpty(); }
    const QString& file() const { return m_file; }

    void read() {
        m_preamble.clear();
        m_keys.clear();
        QFile file(m_file);
        if (!file.open(QIODevice::ReadOnly)) {
            return; // a missing file is an empty root
        }
        const QString content = QString::fromUtf8(file.readAll());
        RegKey* current = nullptr;
        for (QString line : content.split(QLatin1Char('\n'))) {
            if (line.endsWith(QLatin1Char('\r'))) {
                line.chop(1);
            }
            const QString trimmed = line.trimmed();
            if (trimmed.isEmpty()) {
                continue;
            }
            const qsizetype close = trimmed.lastIndexOf(QLatin1Char(']'));
            QString path;
            if (trimmed.startsWith(QLatin1Char('[')) && close > 0 &&
                normalizePath(trimmed.mid(1, close - 1), path)) {
                current = &keyFor(path);
                continue;
            }
            RegValue value;
            if (current != nullptr && parseValue(trimmed, value)) {
                setValue(*current, value);
            } else {
                qCDebug(lcPlatform) << "registry: keeping a line it does not understand in"
                                    << m_file << ":" << line;
                (current != nullptr ? current->rawLines : m_preamble).append(line);
            }
        }
    }

    bool write() const {
        QString out;
        for (const QString& line : m_preamble) {
            out += line + QLatin1Char('\n');
        }
        for (const RegKey& key : m_keys) {
            if (!out.isEmpty()) {
                out += QLatin1Char('\n');
            }
            out += QLatin1Char('[') + key.path + QLatin1String("]\n");
            for (const RegValue& value : key.values) {
                out += valueLine(value) + QLatin1Char('\n');
            }
            for (const QString& line : key.rawLines) {
                out += line + QLatin1Char('\n');
            }
        }
        QSaveFile file(m_file);
        if (!file.open(QIODevice::WriteOnly)) {
            qCWarning(lcPlatform) << "registry: cannot write" << m_file << file.errorString();
            return false;
        }
        const QByteArray bytes = out.toUtf8();
        if (file.write(bytes) != bytes.size() || !file.commit()) {
            qCWarning(lcPlatform) << "registry: cannot write" << m_file << file.errorString();
            return false;
        }
        return true;
    }

    RegKey* findKey(const QString& path) {
        for (RegKey& key : m_keys) {
            if (samePath(key.path, path)) {
                return &key;
            }
        }
        return nullptr;
    }

    bool keyExists(const QString& path) const {
        if (path.isEmpty()) {
            return true;
        }
        return std::any_of(m_keys.begin(), m_keys.end(), [&](const RegKey& key) {
            return samePath(key.path, path) || isBelow(path, key.path);
        });
    }

    // The key of that path, created (spelled as its existing parents are) when
    // missing.
    RegKey& keyFor(const QString& path) {
        if (RegKey* key = findKey(path)) {
            return *key;
        }
        m_keys.push_back(RegKey{spelled(path), {}, {}});
        return m_keys.back();
    }

    // Removes the key and everything below it; false when it did not exist.
    bool removeKey(const QString& path) {
        const auto before = m_keys.size();
        m_keys.erase(std::remove_if(m_keys.begin(), m_keys.end(),
                                    [&](const RegKey& key) {
                                        return samePath(key.path, path) || isBelow(path, key.path);
                                    }),
                     m_keys.end());
        return m_keys.size() != before;
    }

    QStringList subKeyNames(const QString& path) const {
        QStringList names;
        for (const RegKey& key : m_keys) {
            if (!isBelow(path, key.path)) {
                continue;
            }
            const QString rest = path.isEmpty() ? key.path : key.path.mid(path.size() + 1);
            const QString name = rest.section(kSep, 0, 0);
            if (!names.contains(name, Qt::CaseInsensitive)) {
                names.append(name);
            }
        }
        std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
            return a.compare(b, Qt::CaseInsensitive) < 0;
        });
        return names;
    }

    static RegValue* findValue(RegKey& key, const QString& name) {
        for (RegValue& value : key.values) {
            if (value.name.compare(name, Qt::CaseInsensitive) == 0) {
                return &value;
            }
        }
        return nullptr;
    }

    static void setValue(RegKey& key, const RegValue& value) {
        if (RegValue* existing = findValue(key, value.name)) {
            const QString name = existing->name; // keep the first spelling
            *existing = value;
            existing->name = name;
        } else {
            key.values.push_back(value);
        }
    }

private:
    QString spelled(const QString& path) const {
        QStringList parts = path.split(kSep);
        for (const RegKey& key : m_keys) {
            const QStringList existing = key.path.split(kSep);
            for (qsizetype i = 0; i < parts.size() && i < existing.size(); ++i) {
                if (parts[i].compare(existing[i], Qt::CaseInsensitive) != 0) {
                    break;
                }
                parts[i] = existing[i];
            }
        }
        return parts.join(kSep);
    }

    QString m_file;
    QStringList m_preamble;
    std::vector<RegKey> m_keys;
};

// Reads the root, applies a change and writes it back, under the root's lock.
// The change returns whether it changed anything. False when the file could
// not be locked or written.
template <typename F>
bool modifyHive(HKEY root, F&& change) {
    Hive hive(root);
    if (!hive.valid()) {
        return false;
    }
    if (!QDir().mkpath(registryFolder())) {
        qCWarning(lcPlatform) << "registry: cannot create" << registryFolder();
        return false;
    }
    QLockFile lock(hive.file() + QLatin1String(".lock"));
    if (!lock.tryLock(kRegistryLockTimeoutMs)) {
        qCWarning(lcPlatform) << "registry: cannot lock" << hive.file();
        return false;
    }
    hive.read();
    if (!change(hive)) {
        return true;
    }
    return hive.write();
}

Hive readHive(HKEY root) {
    Hive hive(root);
    if (hive.valid()) {
        hive.read();
    }
    return hive;
}

ERegistryException getDataFailed(const QString& name) {
    return ERegistryException(QStringLiteral("Failed to get data for '%1'").arg(name));
}

ERegistryException invalidType(const QString& name) {
    return ERegistryException(QStringLiteral("Invalid data type for '%1'").arg(name));
}

ERegistryException setDataFailed(const QString& name) {
    return ERegistryException(QStringLiteral("Failed to set data for '%1'").arg(name));
}

} // namespace

QString registryFolder() {
    const QString own = qEnvironmentVariable("ORVANE_REGISTRY_DIR");
    if (!own.isEmpty()) {
        return own;
    }
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty()) {
        config = QDir::homePath() + QLatin1String("/.config");
    }
    return config + QLatin1String("/kestova");
}

QString registryFileOf(HKEY root) {
    switch (root) {
    case HKEY_LOCAL_MACHINE:
        return registryFolder() + QLatin1String("/HKEY_LOCAL_MACHINE.reg");
    case HKEY_CURRENT_USER:
        return registryFolder() + QLatin1String("/HKEY_CURRENT_USER.reg");
    default:
        return QString();
    }
}

TRegistry::TRegistry(HKEY root) : m_root(root) {}

void TRegistry::SetRootKey(HKEY root) {
    CloseKey();
    m_root = root;
}

bool TRegistry::resolve(const QString& key, QString& path) const {
    QString relative;
    if (!normalizePath(key, relative)) {
        return false;
    }
    if (key.startsWith(kSep) || m_path.isEmpty()) {
        path = relative;
    } else {
        path = relative.isEmpty() ? m_path : m_path + kSep + relative;
    }
    return true;
}

bool TRegistry::OpenKey(const QString& key, bool canCreate) {
    QString path;
    if (!resolve(key, path) || registryFileOf(m_root).isEmpty()) {
        return false;
    }
    if (!readHive(m_root).keyExists(path)) {
        if (!canCreate) {
            return false;
        }
        const bool created = modifyHive(m_root, [&](Hive& hive) {
            if (hive.keyExists(path)) {
                return false;
            }
            hive.keyFor(path);
            return true;
        });
        if (!created) {
            return false;
        }
    }
    m_path = path;
    m_readOnly = false;
    return true;
}

bool TRegistry::OpenKeyReadOnly(const QString& key) {
    QString path;
    if (!resolve(key, path) || !readHive(m_root).keyExists(path)) {
        return false;
    }
    m_path = path;
    m_readOnly = true;
    return true;
}

void TRegistry::CloseKey() {
    m_path.clear();
    m_readOnly = false;
}

bool TRegistry::KeyExists(const QString& key) const {
    QString path;
    return resolve(key, path) && readHive(m_root).keyExists(path);
}

void TRegistry::CreateKey(const QString& key) {
    QString path;
    const bool ok = resolve(key, path) && modifyHive(m_root, [&](Hive& hive) {
                        if (hive.keyExists(path)) {
                            return false;
                        }
                        hive.keyFor(path);
                        return true;
                    });
    if (!ok) {
        throw ERegistryException(QStringLiteral("Failed to create key %1").arg(key));
    }
}

bool TRegistry::DeleteKey(const QString& key) {
    QString path;
    if (!resolve(key, path) || path.isEmpty()) {
        return false;
    }
    bool removed = false;
    const bool ok = modifyHive(m_root, [&](Hive& hive) { return removed = hive.removeKey(path); });
    return ok && removed;
}

QStringList TRegistry::GetKeyNames() const {
    return readHive(m_root).subKeyNames(m_path);
}

bool TRegistry::HasSubKeys() const {
    return !GetKeyNames().isEmpty();
}

QStringList TRegistry::GetValueNames() const {
    Hive hive = readHive(m_root);
    QStringList names;
    if (const RegKey* key = hive.findKey(m_path)) {
        for (const RegValue& value : key->values) {
            names.append(value.name);
        }
    }
    return names;
}

bool TRegistry::ValueExists(const QString& name) const {
    Hive hive = readHive(m_root);
    RegKey* key = hive.findKey(m_path);
    return key != nullptr && Hive::findValue(*key, name) != nullptr;
}

TRegDataType TRegistry::GetDataType(const QString& name) const {
    Hive hive = readHive(m_root);
    RegKey* key = hive.findKey(m_path);
    const RegValue* value = key != nullptr ? Hive::findValue(*key, name) : nullptr;
    return value != nullptr ? value->type : rdUnknown;
}

std::int32_t TRegistry::ReadInteger(const QString& name) const {
    Hive hive = readHive(m_root);
    RegKey* key = hive.findKey(m_path);
    const RegValue* value = key != nullptr ? Hive::findValue(*key, name) : nullptr;
    if (value == nullptr) {
        throw getDataFailed(name);
    }
    if (value->type != rdInteger) {
        throw invalidType(name);
    }
    return value->integer;
}

std::optional<std::int32_t> TRegistry::TryReadInteger(const QString& name) const {
    try {
        return ReadInteger(name);
    } catch (const ERegistryException&) {
        return std::nullopt;
    }
}

QString TRegistry::ReadString(const QString& name) const {
    Hive hive = readHive(m_root);
    RegKey* key = hive.findKey(m_path);
    const RegValue* value = key != nullptr ? Hive::findValue(*key, name) : nullptr;
    if (value == nullptr) {
        return QString();
    }
    if (value->type != rdString) {
        throw invalidType(name);
    }
    return value->text;
}

void TRegistry::WriteInteger(const QString& name, std::int32_t value) {
    RegValue v;
    v.name = name;
    v.type = rdInteger;
    v.integer = value;
    if (m_readOnly || !modifyHive(m_root, [&](Hive& hive) {
            Hive::setValue(hive.keyFor(m_path), v);
            return true;
        })) {
        throw setDataFailed(name);
    }
}

void TRegistry::WriteString(const QString& name, const QString& value) {
    RegValue v;
    v.name = name;
    v.type = rdString;
    v.text = value;
    if (m_readOnly || !modifyHive(m_root, [&](Hive& hive) {
            Hive::setValue(hive.keyFor(m_path), v);
            return true;
        })) {
        throw setDataFailed(name);
    }
}

bool TRegistry::DeleteValue(const QString& name) {
    if (m_readOnly) {
        return false;
    }
    bool removed = false;
    const bool ok = modifyHive(m_root, [&](Hive& hive) {
        RegKey* key = hive.findKey(m_path);
        if (key == nullptr) {
            return false;
        }
        const auto before = key->values.size();
        key->values.erase(std::remove_if(key->values.begin(), key->values.end(),
                                         [&](const RegValue& v) {
                                             return v.name.compare(name, Qt::CaseInsensitive) == 0;
                                         }),
                          key->values.end());
        return removed = key->values.size() != before;
    });
    return ok && removed;
}

} // namespace orvane
