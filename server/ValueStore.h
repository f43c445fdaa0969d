#pragma once

// What the simulated server keeps between runs, in its data folder
// ($ORVANE_DATA_DIR, else $XDG_DATA_HOME/duxlane-server, else
// ~/.local/share/duxlane-server):
// - networks.list: the network definition files it has opened, one absolute
//   path a line, reopened at the next start;
// - controls/<topic>.values: per control, the values stored by SaveValues and
//   the application identification left by the last completed download.
// Every file is written to a temporary file and renamed (QSaveFile), so a
// crash or a full disk never leaves a half-written file. A damaged file is
// reported in the log and ignored; it never stops the server.
//
// Thread: the one that owns the server. Not copyable.

#include <optional>

#include <QHash>
#include <QString>
#include <QStringList>

namespace orvane::server {

class ValueStore {
public:
    explicit ValueStore(QString dataDir);
    ValueStore(const ValueStore&) = delete;
    ValueStore& operator=(const ValueStore&) = delete;

    // The folder from the environment, as described above.
    static QString defaultDataDir();
    QString dataDir() const { return m_dataDir; }

    struct ControlState {
        QHash<QString, QString> values; // upper-cased item name -> value text
        QString applicationId;          // empty: keep the network file's
    };
    // The stored state of a control, or nothing when none was stored (or the
    // file is damaged, which is logged).
    std::optional<ControlState> loadControl(const QString& topic) const;
    // Stores a control's state; false with *error filled when it cannot be written.
    // `names` gives the letter case to write for each upper-cased key.
    bool saveControl(const QString& topic, const ControlState& state,
                     const QHash<QString, QString>& names, QString* error) const;

    // Whether the server ever opened a network file (the list exists).
    bool hasNetworkList() const;
    QStringList networkList() const;
    // Adds a path to the list (kept once); false when the list cannot be written.
    bool rememberNetwork(const QString& absolutePath);

    QString controlFile(const QString& topic) const;

private:
    QString m_dataDir;
};

} // namespace orvane::server
