#pragma once

// Shared pieces of the inspector tests: a recorder of sheet notifications, a
// stand-in for the inspector window of the open operation (it does what the
// window does with its document: numbered default sheets, renaming, showing
// the first sheet), and controls that are not connected to any server (their
// items are real, without values).

#include <functional>
#include <memory>
#include <ostream>
#include <vector>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>

#include "Wait.h"
#include "inspector/InspectorDoc.h"
#include "inspector/InspectorOpen.h"
#include "inspector/OVVariable.h"
#include "model/KIDevice.h"

// Readable failure output for Qt strings.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace orvane::test {

// Runs the event loop until the condition holds or the time is up.
inline bool waitFor(const std::function<bool()>& condition, int timeoutMs = kDefaultWaitMs) {
    return WaitUntil(condition, timeoutMs);
}

// Records OnVariableChanged and OnModified of sheets.
struct SheetEvents {
    void Changed(TOVVariableList* sheet, int row) {
        sheets.push_back(sheet);
        rows.push_back(row);
    }
    void Modified() { ++modified; }

    TOVVariableChangedEvent changed() {
        return TOVVariableChangedEvent(this, &SheetEvents::Changed);
    }
    TOVModifiedEvent modifiedEvent() { return TOVModifiedEvent(this, &SheetEvents::Modified); }
    void reset() {
        sheets.clear();
        rows.clear();
        modified = 0;
    }

    std::vector<TOVVariableList*> sheets;
    std::vector<int> rows;
    int modified = 0;
};

// Controls by name, as the control connection's FindControl finds them.
class Controls {
public:
    TKIDevice* add(const QString& identifier) {
        m_devices.push_back(std::make_unique<TKIDevice>());
        m_devices.back()->SetIdentifier(identifier);
        return m_devices.back().get();
    }
    TKIDevice* find(const QString& name) const {
        for (const auto& device : m_devices) {
            if (device->Identifier().compare(name, Qt::CaseInsensitive) == 0) {
                return device.get();
            }
        }
        return nullptr;
    }
    TControlFinder finder() const {
        return [this](const QString& name) { return find(name); };
    }
    void remove(TKIDevice* device) {
        std::erase_if(m_devices, [device](const auto& d) { return d.get() == device; });
    }

private:
    std::vector<std::unique_ptr<TKIDevice>> m_devices;
};

// What the inspector window does for the open operation.
class TestInspectorWindow : public TInspectorOpenTarget {
public:
    TestInspectorWindow() {
        AddSheet();
        m_doc.SetModified(false);
    }

    TInspectorDoc& Document() override { return m_doc; }
    void HideSheets() override { calls << QStringLiteral("hide"); }
    void ApplyWindowSettings(const TInspectorWindowSettings& s) override {
        calls << QStringLiteral("place %1 %2 %3 %4 %5")
                     .arg(s.Top)
                     .arg(s.Width)
                     .arg(s.Left)
                     .arg(s.Height)
                     .arg(s.State);
        settings = s;
        m_doc.SetModified(true); // a resize marks the document
    }
    void AddSheet() override {
        ++m_sheetCounter;
        m_doc.AddSheet(QStringLiteral("Sheet%1").arg(m_sheetCounter), events.changed());
    }
    void RenameCurrentSheet(const QString& name) override { m_doc.SetSheetName(name); }
    void ShowFirstSheet() override {
        calls << QStringLiteral("show");
        m_doc.SelectSheet(0);
    }
    void SetCaption(const QString& text) override { caption = text; }

    // Sheet names and, per sheet, "DEVICE|ITEM|description" rows.
    QStringList sheetNames() const {
        QStringList names;
        for (int i = 0; i < m_doc.SheetCount(); ++i) {
            names << m_doc.Sheet(i)->Name();
        }
        return names;
    }
    QStringList rows(int sheet) const {
        QStringList out;
        const TOVVariableList* list = m_doc.Sheet(sheet);
        for (int row = 0; row < list->Count(); ++row) {
            const TOVVariable* v = list->Get(row);
            out << v->DeviceName() + QLatin1Char('|') + v->ItemName() + QLatin1Char('|') +
                       v->Description();
        }
        return out;
    }

    SheetEvents events;
    QStringList calls;
    TInspectorWindowSettings settings;
    QString caption;

private:
    TInspectorDoc m_doc;
    int m_sheetCounter = 0;
};

} // namespace orvane::test
