#include "windows/OrvaneMDIForm.h"

#include <QEvent>

#include "windows/WindowsLog.h"

namespace orvane {

namespace {
TMainWindowServices* g_services = nullptr;
TInspectorInitialization* g_initialization = nullptr;
} // namespace

void SetMainWindowServices(TMainWindowServices* services) {
    g_services = services;
}

TMainWindowServices* MainWindowServices() {
    return g_services;
}

TOrvaneMDIForm::TOrvaneMDIForm(QWidget* owner, TActivatedEvent onActivated)
    : QWidget(owner, Qt::Window), m_onActivated(onActivated) {}

TOrvaneMDIForm::~TOrvaneMDIForm() = default;

void TOrvaneMDIForm::Activated() {
    m_onActivated(this);
}

void TOrvaneMDIForm::NotifyEditState(int flags) {
    if (g_services) {
        g_services->UpdateEditCommands(flags);
    }
}

bool TOrvaneMDIForm::event(QEvent* e) {
    if (e->type() == QEvent::WindowActivate) {
        Activated();
    }
    return QWidget::event(e);
}

const char* const TInspectorInitialization::kWidthValueNames[kColumnCount] = {
    "Column Width: Control", "Column Width: Category", "Column Width: Block",
    "Column Width: Field",   "Column Width: Value",    "Column Width: Description"};
const char* const TInspectorInitialization::kDecimalPlacesValueName = "Decimal Places";
const char* const TInspectorInitialization::kKey = "Software\\Kestova\\Orvane";

TInspectorInitialization::TInspectorInitialization() {
    try {
        m_registry.OpenKey(QString::fromLatin1(kKey), true);
    } catch (const Exception& e) {
        qCWarning(lcWindows) << "inspector settings key:" << e.message();
    }
    m_decimalPlaces =
        readOrDefault(QString::fromLatin1(kDecimalPlacesValueName), kDefaultDecimalPlaces);
    for (int i = 0; i < kColumnCount; ++i) {
        m_widths[i] = readOrDefault(QString::fromLatin1(kWidthValueNames[i]), kDefaultWidths[i]);
    }
}

int TInspectorInitialization::readOrDefault(const QString& name, int fallback) {
    if (auto value = m_registry.TryReadInteger(name)) {
        return *value;
    }
    try {
        m_registry.WriteInteger(name, fallback);
    } catch (const Exception& e) {
        qCWarning(lcWindows) << "inspector settings:" << e.message();
    }
    return fallback;
}

void TInspectorInitialization::GetColumnWidths(int widths[kColumnCount]) const {
    for (int i = 0; i < kColumnCount; ++i) {
        widths[i] = m_widths[i];
    }
}

void TInspectorInitialization::SetColumnWidths(const int widths[kColumnCount]) {
    for (int i = 0; i < kColumnCount; ++i) {
        m_widths[i] = widths[i];
    }
    writeAll();
}

void TInspectorInitialization::SetDecimalPlaces(int places) {
    m_decimalPlaces = places;
    try {
        m_registry.WriteInteger(QString::fromLatin1(kDecimalPlacesValueName), places);
    } catch (const Exception& e) {
        qCWarning(lcWindows) << "inspector settings:" << e.message();
    }
}

void TInspectorInitialization::writeAll() {
    try {
        m_registry.WriteInteger(QString::fromLatin1(kDecimalPlacesValueName), m_decimalPlaces);
        for (int i = 0; i < kColumnCount; ++i) {
            m_registry.WriteInteger(QString::fromLatin1(kWidthValueNames[i]), m_widths[i]);
        }
    } catch (const Exception& e) {
        qCWarning(lcWindows) << "inspector settings:" << e.message();
    }
}

TInspectorInitialization* TInspectorInitialization::Instance() {
    return g_initialization;
}

void TInspectorInitialization::SetInstance(TInspectorInitialization* instance) {
    g_initialization = instance;
}

} // namespace orvane
