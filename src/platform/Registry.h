#pragma once

// TRegistry: the Windows registry as the program uses it, kept in one text
// file per root in the registry folder ($ORVANE_REGISTRY_DIR, else
// $XDG_CONFIG_HOME/kestova, else ~/.config/kestova):
//
//   HKEY_LOCAL_MACHINE.reg, HKEY_CURRENT_USER.reg
//   [SOFTWARE\Kestova\DDE Servers\UPCIDuxlane]
//   @="/opt/kestova/duxlane-server"          the unnamed (default) value
//   "Left"=dword:00000010                    a 32-bit integer
//   "Name"="text with \" and \\ escaped"     a string
//
// - Keys are backslash paths. A path that starts with a backslash is taken from
//   the root, any other from the open key. Key and value names are compared
//   without regard to letter case and keep the case they were created with.
// - Every call reads the file afresh and every change is written at once,
//   under a lock file, through a temporary file that replaces the old one, so
//   that two programs may share a root and no file is ever half written.
// - Lines that cannot be understood (a hand-edited file) are kept as they are
//   when the file is written again; a value that cannot be read as an integer
//   makes ReadInteger fail, so callers fall back to their defaults.
//
// Errors: ReadInteger raises ERegistryException "Failed to get data for 'X'"
// (missing) or "Invalid data type for 'X'" (not an integer); ReadString raises
// the latter for a non-string value; writes raise "Failed to set data for 'X'"
// when the file cannot be written or the key is open read-only.
// Thread: any, one TRegistry object per thread.

#include <cstdint>
#include <optional>

#include <QString>
#include <QStringList>

#include "platform/Exception.h"

namespace orvane {

using HKEY = std::uintptr_t;
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002;

enum TRegDataType { rdUnknown, rdString, rdInteger };

// How long a change waits for another program's change of the same root.
constexpr int kRegistryLockTimeoutMs = 5000;

class ERegistryException : public Exception {
public:
    using Exception::Exception;
};

// The folder of the registry files (read from the environment on each call).
QString registryFolder();
// The file of a root; empty for a root other than the two above.
QString registryFileOf(HKEY root);

class TRegistry {
public:
    explicit TRegistry(HKEY root = HKEY_CURRENT_USER);

    HKEY RootKey() const { return m_root; }
    // Changing the root closes the open key.
    void SetRootKey(HKEY root);

    // Opens a key; with canCreate a missing key (and its parents) is created.
    // Returns false when the key is missing (and not created) or the name is
    // not a valid key name.
    bool OpenKey(const QString& key, bool canCreate);
    // Opens an existing key for reading only.
    bool OpenKeyReadOnly(const QString& key);
    // Back to the root.
    void CloseKey();
    // The path of the open key from the root, without a leading backslash.
    const QString& CurrentPath() const { return m_path; }

    bool KeyExists(const QString& key) const;
    // Creates the key and its parents; raises "Failed to create key X".
    void CreateKey(const QString& key);
    // Deletes the key with all its sub-keys and values; false if missing.
    bool DeleteKey(const QString& key);

    // Names of the open key's sub-keys, sorted without regard to case.
    QStringList GetKeyNames() const;
    bool HasSubKeys() const;
    // Names of the open key's values ("" for the unnamed one), in file order.
    QStringList GetValueNames() const;

    // Values of the open key; "" names the unnamed (default) value.
    bool ValueExists(const QString& name) const;
    TRegDataType GetDataType(const QString& name) const;
    std::int32_t ReadInteger(const QString& name) const;
    // The integer, or nothing when the value is missing or not an integer.
    std::optional<std::int32_t> TryReadInteger(const QString& name) const;
    // The string; empty when the value is missing.
    QString ReadString(const QString& name) const;
    void WriteInteger(const QString& name, std::int32_t value);
    void WriteString(const QString& name, const QString& value);
    bool DeleteValue(const QString& name);

private:
    bool resolve(const QString& key, QString& path) const;

    HKEY m_root;
    QString m_path;
    bool m_readOnly = false;
};

} // namespace orvane
