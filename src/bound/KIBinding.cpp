#include "bound/KIBinding.h"

#include <memory>
#include <vector>

#include "bound/BoundLog.h"
#include "ddelink/DdeError.h"
#include "ddelink/KIDdeClientConv.h"
#include "model/KIDevice.h"
#include "model/KIDuxlaneControl.h"
#include "model/KIItem.h"
#include "platform/DialogService.h"
#include "platform/Exception.h"

namespace orvane {

// The answer to one poke. It outlives the control that wrote (the DDE library
// calls it back later), so it holds the binding through a guard on the
// control's widget. Replies whose conversation went away are never called;
// they stay listed here until the program ends.
class TPokeReply : public TObject {
public:
    TPokeReply(TKIBinding* binding, QString text)
        : m_widget(binding->m_widget), m_binding(binding), m_text(std::move(text)) {}

    void Answered(const char*, EDdeError* error) {
        const std::unique_ptr<EDdeError> owned(error);
        // Take this reply off the list first: it frees this object.
        std::unique_ptr<TPokeReply> self = Take(this);
        if (m_widget.isNull()) {
            return;
        }
        m_binding->WriteAnswered(m_text, owned ? owned->message() : QString());
    }

    static std::vector<std::unique_ptr<TPokeReply>>& List() {
        static std::vector<std::unique_ptr<TPokeReply>> replies;
        return replies;
    }

private:
    static std::unique_ptr<TPokeReply> Take(TPokeReply* reply) {
        auto& list = List();
        for (auto it = list.begin(); it != list.end(); ++it) {
            if (it->get() == reply) {
                std::unique_ptr<TPokeReply> owned = std::move(*it);
                list.erase(it);
                return owned;
            }
        }
        return nullptr;
    }

    QPointer<QWidget> m_widget;
    TKIBinding* m_binding;
    QString m_text;
};

TKIBinding::TKIBinding(TKIBoundControl* control)
    : m_control(control), m_widget(control->BoundWidget()) {}

TKIBinding::~TKIBinding() {
    // The claim on the item goes back with the control.
    Unbind();
    m_itemName.clear();
    if (m_device != nullptr) {
        RemoveFreeNotification(m_device);
    }
}

void TKIBinding::SetDevice(TKIDevice* device) {
    if (device == m_device) {
        return;
    }
    // The item belongs to the old device: give it back there first.
    Unbind();
    if (m_device != nullptr) {
        RemoveFreeNotification(m_device);
    }
    m_device = device;
    if (m_device != nullptr) {
        FreeNotification(m_device);
    }
    if (!Loading() && !m_itemName.isEmpty()) {
        BindNamed(m_itemName);
    }
}

void TKIBinding::SetItemName(const QString& name) {
    if (Loading() || ComponentState().testFlag(csDesigning)) {
        m_itemName = name;
        return;
    }
    // The same item again (an editor laid over the same row): the link and
    // the value on show stay as they are.
    if (m_item != nullptr && name == m_itemName) {
        return;
    }
    Unbind();
    m_itemName = name;
    if (!name.isEmpty()) {
        BindNamed(name);
    }
}

void TKIBinding::BindItem(TKIDevice* device, TKIItem* item) {
    if (device == m_device && item != nullptr && item == m_item) {
        return;
    }
    SetItemName(QString());
    SetDevice(device);
    SetItemName(item ? item->Name() : QString());
}

void TKIBinding::BindNamed(const QString& name) {
    if (m_device == nullptr) {
        return;
    }
    m_item = m_device->AcquireItem(name);
    ClearRefusal();
    const QPointer<QWidget> guard(m_widget);
    m_control->ItemChanging();
    UpdateSubscription();
    if (!guard || m_item == nullptr) {
        return;
    }
    // The new item's value shows at once: Subscribe has called us when the item
    // held one, and a starting link brings it soon (no wait for it here). An
    // item without a link is read.
    if (!IsSubscribed()) {
        ShowItemValue();
    }
}

void TKIBinding::Unbind() {
    if (m_item == nullptr) {
        return;
    }
    TKIItem* item = m_item;
    item->Unsubscribe(TKIItemEvent(this, &TKIBinding::ItemChanged));
    m_item = nullptr;
    if (m_device != nullptr) {
        m_device->ReleaseItem(item->Name());
    }
}

TKIDuxlaneItem* TKIBinding::DuxlaneItem() const {
    return dynamic_cast<TKIDuxlaneItem*>(m_item);
}

void TKIBinding::SetIsMonitorOnly(bool monitorOnly) {
    m_monitorOnly = monitorOnly;
    if (!Loading()) {
        m_control->ApplyMonitorOnly();
    }
}

void TKIBinding::SetVisible(bool visible) {
    m_visible = visible;
    UpdateSubscription();
}

void TKIBinding::SetEnabled(bool enabled) {
    m_enabled = enabled;
    UpdateSubscription();
}

void TKIBinding::ContainerStateChanged(std::uint8_t state) {
    m_containerState = state;
    UpdateSubscription();
}

bool TKIBinding::IsSubscribed() const {
    return m_item != nullptr && m_item->IsSubscribed(TKIItemEvent(const_cast<TKIBinding*>(this),
                                                                  &TKIBinding::ItemChanged));
}

void TKIBinding::UpdateSubscription() {
    if (Loading()) {
        return;
    }
    if (m_visible && m_enabled && m_containerState == kStateActive) {
        Subscribe();
    } else {
        Unsubscribe();
    }
}

void TKIBinding::Subscribe() {
    if (m_item == nullptr || IsSubscribed()) {
        return;
    }
    try {
        m_item->Subscribe(TKIItemEvent(this, &TKIBinding::ItemChanged));
    } catch (const Exception& e) {
        // The link starts with the item's next conversation.
        qCWarning(lcBound) << "Advise link of" << m_itemName << "did not start:" << e.message();
    }
}

void TKIBinding::Unsubscribe() {
    if (m_item == nullptr || !IsSubscribed()) {
        return;
    }
    m_item->Unsubscribe(TKIItemEvent(this, &TKIBinding::ItemChanged));
    m_control->AdviseStopped();
}

void TKIBinding::ItemChanged(TKIItem* item) {
    if (item == m_item) {
        m_control->ItemValueChanged(item);
    }
}

void TKIBinding::Loaded() {
    TComponent::Loaded();
    Unbind();
    if (m_itemName.isEmpty()) {
        return;
    }
    // A loaded control waits for its container's state before it links.
    m_registration =
        RegisterWithContainer(ContainerOf(m_widget.data()),
                              TContainerStateHandler(this, &TKIBinding::ContainerStateChanged));
    m_containerState = m_registration.IsRegistered() ? 0 : kStateActive;
    if (m_device != nullptr) {
        m_item = m_device->AcquireItem(m_itemName);
    }
    m_control->ApplyMonitorOnly();
    UpdateSubscription();
}

void TKIBinding::Notification(TComponent* component, TOperation operation) {
    TComponent::Notification(component, operation);
    if (operation == opRemove && component == m_device) {
        // The device frees its items itself.
        m_item = nullptr;
        m_device = nullptr;
    }
}

orvane::ItemClassType TKIBinding::ItemClass() {
    TKIDuxlaneItem* item = DuxlaneItem();
    if (item == nullptr) {
        return vctUnassigned;
    }
    try {
        return item->ItemClassType();
    } catch (const Exception& e) {
        qCWarning(lcBound) << "Class of" << m_itemName << "unknown:" << e.message();
        return vctUnassigned;
    }
}

bool TKIBinding::DeviceInConfigureMode() {
    auto* control = dynamic_cast<TKIDuxlaneControl*>(m_device);
    if (control == nullptr) {
        return false;
    }
    try {
        return control->InConfigureMode();
    } catch (const Exception& e) {
        qCWarning(lcBound) << "Run mode of" << m_device->Identifier() << "unknown:" << e.message();
        return false;
    }
}

bool TKIBinding::MayWrite() {
    const QPointer<QWidget> guard(m_widget);
    if (ItemClass() != vctConfigure) {
        return guard;
    }
    const bool locked = DeviceInConfigureMode();
    if (!guard) {
        return false;
    }
    if (!locked) {
        messageDlg(QString::fromLatin1(kIoLockText), mtInformation, mbOK);
        return false;
    }
    return true;
}

bool TKIBinding::Write(const QString& text) {
    if (m_item == nullptr) {
        return false;
    }
    TKIDdeClientConv* conversation = m_item->Conversation();
    if (!m_item->IsConnected() || conversation == nullptr) {
        Refused(QStringLiteral("%1: the control is not connected; %2 was not written.")
                    .arg(ControlName(), text));
        return false;
    }
    if (text.size() > kPokeBufferChars) {
        Refused(QStringLiteral("%1: %2 characters are more than the %3 that can be written.")
                    .arg(ControlName())
                    .arg(text.size())
                    .arg(kPokeBufferChars));
        return false;
    }
    auto reply = std::make_unique<TPokeReply>(this, text);
    TPokeReply* raw = reply.get();
    TPokeReply::List().push_back(std::move(reply));
    try {
        conversation->Poke(m_item->Name(), text, TDdeDataEvent(raw, &TPokeReply::Answered));
    } catch (const EDdeError& e) {
        auto& list = TPokeReply::List();
        std::erase_if(list, [raw](const auto& r) { return r.get() == raw; });
        Refused(
            QStringLiteral("%1: %2 was not written (%3).").arg(ControlName(), text, e.message()));
        return false;
    }
    return true;
}

void TKIBinding::WriteAnswered(const QString& text, const QString& error) {
    if (!error.isEmpty()) {
        Refused(QStringLiteral("%1: the control refused %2 (%3).").arg(ControlName(), text, error));
        return;
    }
    // An accepted value shows when the control reports it; a value equal to the
    // one held brings no report, so the held one is shown again now.
    if (m_item != nullptr && m_item->ValueReceived()) {
        ShowItemValue();
    }
}

void TKIBinding::Refused(const QString& why) {
    const QPointer<QWidget> guard(m_widget);
    Report(why);
    if (guard) {
        ShowItemValue();
    }
}

void TKIBinding::Report(const QString& why) {
    qCInfo(lcBound).noquote() << why;
    if (m_lastRefusal.isEmpty() && m_widget) {
        m_toolTipBeforeRefusal = m_widget->toolTip();
    }
    m_lastRefusal = why;
    if (m_widget) {
        m_widget->setToolTip(why);
    }
    m_onWriteRefused(m_widget.data(), why);
}

void TKIBinding::ClearRefusal() {
    if (m_lastRefusal.isEmpty()) {
        return;
    }
    m_lastRefusal.clear();
    if (m_widget) {
        m_widget->setToolTip(m_toolTipBeforeRefusal);
    }
}

QString TKIBinding::ControlName() const {
    if (m_widget && !m_widget->objectName().isEmpty()) {
        return m_widget->objectName();
    }
    return m_itemName;
}

std::optional<QString> TKIBinding::ReadItemText() {
    if (m_item == nullptr) {
        return std::nullopt;
    }
    if (m_item->ValueReceived() && IsSubscribed()) {
        return m_item->Value().toString();
    }
    const QPointer<QWidget> guard(m_widget);
    TKIItem* item = m_item;
    try {
        const QString text = item->Value().toString();
        if (!guard || m_item != item) {
            return std::nullopt;
        }
        return text;
    } catch (const Exception& e) {
        if (guard) {
            qCInfo(lcBound) << "Value of" << m_itemName << "not read:" << e.message();
        }
        return std::nullopt;
    }
}

void TKIBinding::ShowItemValue() {
    if (m_item == nullptr || Loading()) {
        return;
    }
    if (!m_item->IsConnected() && !m_item->ValueReceived()) {
        return;
    }
    m_control->ItemValueChanged(m_item);
}

int TKIBinding::PendingWritesForTesting() {
    return static_cast<int>(TPokeReply::List().size());
}

} // namespace orvane
