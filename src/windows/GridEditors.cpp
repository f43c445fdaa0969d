#include "windows/GridEditors.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>

#include "model/KIDevice.h"
#include "model/KIDuxlaneControl.h"
#include "model/KIDuxlaneItem.h"
#include "model/KIItem.h"
#include "platform/DialogService.h"
#include "platform/Exception.h"
#include "windows/WindowsLog.h"

namespace orvane {

QString FixedPointText(const QString& text, int places) {
    if (text.isEmpty()) {
        return text;
    }
    // The server writes numbers with a point; a text in the engineer's own
    // notation is taken as well.
    const QString trimmed = text.trimmed();
    bool ok = false;
    double value = trimmed.toDouble(&ok);
    if (!ok) {
        value = QLocale().toDouble(trimmed, &ok);
    }
    if (!ok) {
        return text;
    }
    // Precision 9: the digits beyond the ninth significant one are noise.
    value = QString::number(value, 'g', 9).toDouble();
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(value, 'f', places);
}

namespace {

const QString kIoLockText =
    QStringLiteral("The control must be in I/O Lock to edit this variable.");

// Binding shared by the editors: one item claimed from its device, subscribed
// while the editor is active.
class TItemBinding {
public:
    explicit TItemBinding(TKIItemEvent onValue) : m_onValue(onValue) {}
    ~TItemBinding() { Bind(nullptr, QString()); }

    void Bind(TKIDevice* device, const QString& itemName) {
        const bool wasActive = m_active;
        setSubscribed(false);
        if (m_item && m_device) {
            m_device->ReleaseItem(m_item->Name());
        }
        m_item = nullptr;
        m_device = device;
        if (device && !itemName.isEmpty()) {
            m_item = device->AcquireItem(itemName);
        }
        setSubscribed(wasActive);
    }
    void SetActive(bool active) {
        m_active = active;
        setSubscribed(active);
    }
    bool Active() const { return m_active; }
    TKIItem* Item() const { return m_item; }

    // Writes the text unless the I/O-lock rule forbids it; false then.
    bool Write(const QString& text, ItemClassType classType) {
        if (!m_item) {
            return false;
        }
        if (classType == vctMonitor) {
            return false;
        }
        if (classType == vctConfigure) {
            auto* control = dynamic_cast<TKIDuxlaneControl*>(m_device);
            bool locked = false;
            try {
                locked = control && control->InConfigureMode();
            } catch (const Exception& e) {
                qCWarning(lcWindows) << "run mode:" << e.message();
            }
            if (!locked) {
                DialogService::current().messageBox(mtInformation, kIoLockText, mbOK);
                return false;
            }
        }
        try {
            m_item->SetValue(text);
        } catch (const Exception& e) {
            DialogService::current().messageBox(mtError, e.message(), mbOK);
            return false;
        }
        return true;
    }

private:
    void setSubscribed(bool on) {
        if (!m_item) {
            return;
        }
        try {
            if (on) {
                m_item->Subscribe(m_onValue);
            } else if (m_item->IsSubscribed(m_onValue)) {
                m_item->Unsubscribe(m_onValue);
            }
        } catch (const Exception& e) {
            qCWarning(lcWindows) << "editor link:" << e.message();
        }
    }

    TKIItemEvent m_onValue;
    TKIDevice* m_device = nullptr;
    TKIItem* m_item = nullptr;
    bool m_active = false;
};

ItemClassType classOf(TKIItem* item) {
    if (auto* duxlane = dynamic_cast<TKIDuxlaneItem*>(item)) {
        return duxlane->AttributesFetched() ? duxlane->ItemClassType() : vctUnassigned;
    }
    return vctUnassigned;
}

// A single-line editor: Enter writes the text; an arriving value replaces the
// text only while the engineer has not changed it.
class TLineGridEditor : public TGridValueEditor {
public:
    TLineGridEditor(TGridEditorKind kind, QWidget* parent)
        : m_kind(kind), m_edit(new QLineEdit(parent)),
          m_binding(TKIItemEvent(this, &TLineGridEditor::ValueArrived)) {
        m_edit->setFixedHeight(24);
        QObject::connect(m_edit, &QLineEdit::returnPressed, m_edit, [this] { commit(); });
    }
    ~TLineGridEditor() override { m_binding.Bind(nullptr, QString()); }

    QWidget* Widget() override { return m_edit; }
    void Bind(TKIDevice* device, const QString& itemName) override {
        m_binding.Bind(device, itemName);
        m_edit->setModified(false);
    }
    void SetActive(bool active) override {
        m_edit->setEnabled(active);
        if (!active && m_kind == TGridEditorKind::String) {
            m_edit->clear();
        }
        m_edit->setModified(false);
        m_binding.SetActive(active);
    }
    bool IsActive() const override { return m_binding.Active(); }
    void SetDecimalPlaces(int places) override { m_places = places; }
    QString Text() const override { return m_edit->text(); }

private:
    void ValueArrived(TKIItem* item) {
        if (m_edit->isModified()) {
            return; // the engineer is typing
        }
        const QString text = item->ValueReceived() ? item->Value().toString() : QString();
        m_edit->setText(m_kind == TGridEditorKind::Spin ? FixedPointText(text, m_places) : text);
        m_edit->setModified(false);
    }
    void commit() {
        if (m_binding.Write(m_edit->text(), classOf(m_binding.Item()))) {
            m_edit->setModified(false);
        }
    }

    TGridEditorKind m_kind;
    QLineEdit* m_edit;
    TItemBinding m_binding;
    int m_places = 16;
};

// Off "False", on "True": a click writes the other state.
class TToggleGridEditor : public TGridValueEditor {
public:
    explicit TToggleGridEditor(QWidget* parent)
        : m_button(new QPushButton(QStringLiteral("False"), parent)),
          m_binding(TKIItemEvent(this, &TToggleGridEditor::ValueArrived)) {
        m_button->setFixedHeight(18);
        m_button->setStyleSheet(QStringLiteral("background-color: rgb(192,192,192)"));
        QObject::connect(m_button, &QPushButton::clicked, m_button, [this] {
            m_binding.Write(m_on ? QStringLiteral("0") : QStringLiteral("1"),
                            classOf(m_binding.Item()));
        });
    }
    ~TToggleGridEditor() override { m_binding.Bind(nullptr, QString()); }

    QWidget* Widget() override { return m_button; }
    void Bind(TKIDevice* device, const QString& itemName) override {
        m_binding.Bind(device, itemName);
    }
    void SetActive(bool active) override {
        m_button->setEnabled(active);
        m_binding.SetActive(active);
    }
    bool IsActive() const override { return m_binding.Active(); }
    void SetDecimalPlaces(int) override {}
    QString Text() const override { return m_button->text(); }

private:
    void ValueArrived(TKIItem* item) {
        m_on = item->ValueReceived() && item->Value().toString() != QLatin1String("0");
        m_button->setText(m_on ? QStringLiteral("True") : QStringLiteral("False"));
    }

    QPushButton* m_button;
    TItemBinding m_binding;
    bool m_on = false;
};

} // namespace

std::unique_ptr<TGridValueEditor> CreateGridValueEditor(TGridEditorKind kind, QWidget* parent) {
    if (kind == TGridEditorKind::Toggle) {
        return std::make_unique<TToggleGridEditor>(parent);
    }
    return std::make_unique<TLineGridEditor>(kind, parent);
}

} // namespace orvane
