#pragma once

// The variable clipboard: the program's private store of copied variables,
// each named by its control (device), its full item name and its description.
// Copy and cut in an inspector and copy in the Explorer fill it; paste into a
// sheet reads it; it is also the meeting point of every drag and drop of
// variables (the drag source installs OnFill, the drop target calls Fill and
// then pastes). Nothing is exchanged with other programs.
//
// One instance, created and destroyed by the main window.
//
// Devices are borrowed. The clipboard asks each device it refers to for a
// destruction notice, and drops the entries of a device that is destroyed
// (calling OnChange), so an entry never refers to a dead control.
//
// Thread: main thread only. OnChange is called once after every Add, every
// Clear and every drop of entries of a destroyed device; OnFill only by Fill.
// Entries must not be added or cleared while an iterator is in use.

#include <vector>

#include <QString>

#include "platform/Component.h"
#include "platform/Delegate.h"

namespace orvane {

class TKIDevice;
class TVariableClipboard;

using TVariableClipboardEvent = Delegate<TVariableClipboard*>;

// One entry: a plain record.
struct TVCEntry {
    TKIDevice* Device = nullptr; // borrowed
    QString ItemName;
    QString Description;
};

// Walks the entries in order. Valid while the clipboard is not changed.
class TVCIterator {
public:
    explicit TVCIterator(const std::vector<TVCEntry>& entries) : m_entries(&entries) {}

    bool Valid() const { return m_position < m_entries->size(); }
    void Next() { ++m_position; }

    TKIDevice* Device() const { return current().Device; }
    const QString& ItemName() const { return current().ItemName; }
    const QString& Description() const { return current().Description; }

private:
    const TVCEntry& current() const { return (*m_entries)[m_position]; }

    const std::vector<TVCEntry>* m_entries;
    std::size_t m_position = 0;
};

class TVariableClipboard : public TComponent {
public:
    TVariableClipboard();
    ~TVariableClipboard() override;

    // Appends an entry, then OnChange. A null device is refused (logged).
    void Add(const QString& itemName, const QString& description, TKIDevice* device);
    // Removes every entry, then OnChange.
    void Clear();
    bool IsEmpty() const { return m_entries.empty(); }
    int Count() const { return static_cast<int>(m_entries.size()); }
    const std::vector<TVCEntry>& Entries() const { return m_entries; }

    // A new iterator at the first entry.
    TVCIterator Iterator() const { return TVCIterator(m_entries); }

    // Calls OnFill (the source of the current drag fills the clipboard).
    void Fill();

    void SetOnChange(const TVariableClipboardEvent& handler) { m_onChange = handler; }
    void SetOnFill(const TVariableClipboardEvent& handler) { m_onFill = handler; }
    const TVariableClipboardEvent& OnFill() const { return m_onFill; }

protected:
    void Notification(TComponent* component, TOperation operation) override;

private:
    void changed();
    void watch(TKIDevice* device);
    void unwatchAll();

    std::vector<TVCEntry> m_entries;
    // Devices registered for a destruction notice, with their component side.
    struct Watched {
        TKIDevice* device;
        TComponent* component;
    };
    std::vector<Watched> m_watched;
    TVariableClipboardEvent m_onChange;
    TVariableClipboardEvent m_onFill;
};

} // namespace orvane
