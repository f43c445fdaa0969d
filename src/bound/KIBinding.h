#pragma once

// The binding that every bound control (TKISpinEdit, TKIToggleButton,
// TKITimerEdit, TKIStringEdit) shares: which control (device) and item it
// shows, when it holds the item's advise link, the I/O-lock rule, and writing
// with the control's answer.
//
// Binding (all on the control itself, through TKIBound<Base>):
//   SetDevice(device)      the control that holds the item; borrowed (its
//                          destruction is noticed); set it before the name.
//   SetItemName(name)      the item's full name; takes the item from the
//                          device (AcquireItem) and gives the old one back
//                          (ReleaseItem). An empty name unbinds. Destroying
//                          the control unbinds.
//   SetIsMonitorOnly(b)    show only, never write.
//   SetOnValueChange(h)    called (sender: the control) after a value from
//                          the item has been shown.
// or bind to an item that the caller already holds: BindItem(device, item)
// takes one more claim on it by its name.
//
// The advise link runs exactly while an item is bound, the control's own
// SetVisible and SetEnabled flags are true (both are true at creation) and
// the container state has both flags. A control that is not registered with
// a container (an inspector's editor) counts as in a shown, enabled one.
// Switch the link with the control's SetVisible/SetEnabled (they also show
// and enable the widget); QWidget's own show, hide and setEnabled leave the
// link as it is.
//
// Loading a screen: BeginLoading() on the control, set Device and ItemName
// (only stored), then Loaded() (TKIForm::Loaded runs it): takes the item and
// registers with the container (the parent widget), starting without a link
// until the container fires its state.
//
// Writing: a configure item needs I/O lock (an information box otherwise and
// nothing is written). A write is an asynchronous poke; when the control
// refuses it, or a value cannot be converted, the control shows the item's
// value again and reports why: the tool tip of the control, LastRefusal() and
// OnWriteRefused (sender, text). A write the control accepts is shown when
// the control reports its value.
//
// Thread: GUI thread only. Reading an item that has no value yet, the item's
// attributes or the device's I/O lock waits for the control with the event
// loop running; the bound widget may be destroyed meanwhile, which the
// binding notices (see Alive()).

#include <memory>
#include <optional>

#include <QPointer>
#include <QString>
#include <QWidget>

#include "bound/KIForms.h"
#include "model/KIDuxlaneItem.h"
#include "platform/Component.h"
#include "platform/Delegate.h"

namespace orvane {

class TKIDevice;
class TKIItem;

// A write the control refused, or a value that did not convert: the sending
// control and the reason.
using TRefusalEvent = Delegate<QWidget*, const QString&>;

// The information box of a configure item written while the control runs.
inline constexpr const char* kIoLockText = "The control must be in I/O Lock to edit this variable.";
// Added after the control's name when a value does not convert.
inline constexpr const char* kConversionFailedText = " value conversion failed";

// What the binding asks of its control.
class TKIBoundControl {
public:
    virtual ~TKIBoundControl() = default;
    virtual QWidget* BoundWidget() = 0;
    // Shows the item's value (the value handler); fires OnValueChange.
    virtual void ItemValueChanged(TKIItem* item) = 0;
    // Applies IsMonitorOnly to the widget's look and input.
    virtual void ApplyMonitorOnly() = 0;
    // The advise handler was removed (the string edit empties its text).
    virtual void AdviseStopped() {}
    // Another item is being bound: the old item's value must not stay on show
    // as the new one's.
    virtual void ItemChanging() {}
};

class TKIBinding : public TComponent {
public:
    explicit TKIBinding(TKIBoundControl* control);
    ~TKIBinding() override;

    TKIDevice* Device() const { return m_device; }
    void SetDevice(TKIDevice* device);
    const QString& ItemName() const { return m_itemName; }
    // The same name again while bound changes nothing.
    void SetItemName(const QString& name);
    // Binds to an item the caller holds, taking a claim of its own on it.
    void BindItem(TKIDevice* device, TKIItem* item);
    // The bound item (owned by the device), or null.
    TKIItem* Item() const { return m_item; }
    // The bound item with attributes, or null when the device makes plain
    // items.
    TKIDuxlaneItem* DuxlaneItem() const;

    bool IsMonitorOnly() const { return m_monitorOnly; }
    void SetIsMonitorOnly(bool monitorOnly);

    const TNotifyEvent& OnValueChange() const { return m_onValueChange; }
    void SetOnValueChange(const TNotifyEvent& handler) { m_onValueChange = handler; }
    void SetOnWriteRefused(const TRefusalEvent& handler) { m_onWriteRefused = handler; }
    const QString& LastRefusal() const { return m_lastRefusal; }

    // The control's own flags (true at creation).
    bool Visible() const { return m_visible; }
    bool Enabled() const { return m_enabled; }
    void SetVisible(bool visible);
    void SetEnabled(bool enabled);
    // The last state of the container (kStateActive when not registered).
    std::uint8_t ContainerState() const { return m_containerState; }
    // The container handler.
    void ContainerStateChanged(std::uint8_t state);
    bool IsRegisteredWithContainer() const { return m_registration.IsRegistered(); }
    // Whether the value handler is subscribed to the item (the link runs).
    bool IsSubscribed() const;

    void Loaded() override;
    void Notification(TComponent* component, TOperation operation) override;

    // The item's class when known (vctUnassigned for plain items).
    orvane::ItemClassType ItemClass();
    // The I/O-lock rule: false (after the information box) when the item is a
    // configure item and the device is not in I/O lock. Also false when the
    // control was destroyed while the device was asked.
    bool MayWrite();
    // Whether the device is in I/O lock (false for devices without commands
    // or when the question fails).
    bool DeviceInConfigureMode();

    // Pokes the text to the item; true when the poke was sent. A refusal at
    // once or later is reported (Refused) and the item's value shown again.
    bool Write(const QString& text);
    // Reports a refused or unconvertible value and shows the item's value
    // again.
    void Refused(const QString& why);
    // Reports without showing the item's value again (for values received).
    void Report(const QString& why);
    // Clears the last refusal (and the tool tip it set).
    void ClearRefusal();
    // The control's name for messages: its objectName, else the item name.
    QString ControlName() const;

    // Shows the item's value again: its held value, or a read when it has
    // none yet (not while loading or without item).
    void ShowItemValue();
    // The item's value text: the held one, or a read. Empty optional when it
    // cannot be had or the control went away meanwhile (then check Alive()).
    std::optional<QString> ReadItemText();
    // False once the bound widget has been destroyed (for callers that waited).
    bool Alive() const { return !m_widget.isNull(); }

    // Test hook: pokes the binding has sent and not yet heard back of.
    static int PendingWritesForTesting();

private:
    friend class TPokeReply;
    void ItemChanged(TKIItem* item);
    void UpdateSubscription();
    void Subscribe();
    void Unsubscribe();
    void Unbind();
    void BindNamed(const QString& name);
    void WriteAnswered(const QString& text, const QString& error);
    bool Loading() const { return ComponentState().testFlag(csLoading); }

    TKIBoundControl* m_control;
    QPointer<QWidget> m_widget;
    TKIDevice* m_device = nullptr;
    QString m_itemName;
    TKIItem* m_item = nullptr;
    bool m_monitorOnly = false;
    bool m_visible = true;
    bool m_enabled = true;
    std::uint8_t m_containerState = kStateActive;
    TContainerRegistration m_registration;
    TNotifyEvent m_onValueChange;
    TRefusalEvent m_onWriteRefused;
    QString m_lastRefusal;
    QString m_toolTipBeforeRefusal;
};

// The public face of a bound control over a widget class: forwards the
// binding's properties. Derived classes implement TKIBoundControl.
template <class Base>
class TKIBound : public Base, public TKIBoundControl, public TKIFormPart {
public:
    explicit TKIBound(QWidget* parent = nullptr) : Base(parent), m_binding(this) {}
    ~TKIBound() override = default;

    TKIDevice* Device() const { return m_binding.Device(); }
    void SetDevice(TKIDevice* device) { m_binding.SetDevice(device); }
    const QString& ItemName() const { return m_binding.ItemName(); }
    void SetItemName(const QString& name) { m_binding.SetItemName(name); }
    void BindItem(TKIDevice* device, TKIItem* item) { m_binding.BindItem(device, item); }
    TKIItem* Item() const { return m_binding.Item(); }
    bool IsMonitorOnly() const { return m_binding.IsMonitorOnly(); }
    void SetIsMonitorOnly(bool monitorOnly) { m_binding.SetIsMonitorOnly(monitorOnly); }
    void SetOnValueChange(const TNotifyEvent& handler) { m_binding.SetOnValueChange(handler); }
    // Refused writes and unconvertible values (besides the tool tip).
    void SetOnWriteRefused(const TRefusalEvent& handler) { m_binding.SetOnWriteRefused(handler); }
    const QString& LastRefusal() const { return m_binding.LastRefusal(); }
    bool Visible() const { return m_binding.Visible(); }
    bool Enabled() const { return m_binding.Enabled(); }
    // Shows or hides the widget and starts or stops the advise link.
    void SetVisible(bool visible) {
        Base::setVisible(visible);
        m_binding.SetVisible(visible);
    }
    // Enables or disables the widget and starts or stops the advise link.
    virtual void SetEnabled(bool enabled) {
        Base::setEnabled(enabled);
        m_binding.SetEnabled(enabled);
    }
    bool IsSubscribed() const { return m_binding.IsSubscribed(); }
    void BeginLoading() { m_binding.BeginLoading(); }
    // Ends loading (only a control that BeginLoading marked; a control bound at
    // run time is left as it is).
    void Loaded() override {
        if (m_binding.ComponentState().testFlag(csLoading)) {
            m_binding.EndLoading();
        }
    }
    TKIBinding& Binding() { return m_binding; }
    const TKIBinding& Binding() const { return m_binding; }

    QWidget* BoundWidget() override { return this; }

protected:
    TKIBinding m_binding;
};

} // namespace orvane
