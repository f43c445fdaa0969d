#include "platform/Component.h"

#include <algorithm>

namespace orvane {

EListError EListError::outOfBounds(int index) {
    return EListError(QStringLiteral("List index out of bounds (%1)").arg(index));
}

TComponent::TComponent(TComponent* owner) {
    if (owner != nullptr) {
        owner->InsertComponent(this);
    }
}

TComponent::~TComponent() {
    // What derived from this is gone: nothing may call it through a delegate.
    m_lifetime.end();
    // Partners first: after this they no longer hold a pointer to us.
    NotifyDestruction();

    while (!m_components.empty()) {
        TComponent* child = m_components.back();
        m_components.pop_back();
        child->m_owner = nullptr;
        delete child;
    }

    if (m_owner != nullptr) {
        m_owner->RemoveComponent(this);
    }
}

void TComponent::NotifyDestruction() {
    Destroying();
    std::vector<TComponent*> partners;
    partners.swap(m_freeNotifies);
    for (TComponent* partner : partners) {
        partner->removeFromFreeNotifies(this);
        partner->Notification(this, opRemove);
    }
}

void TComponent::Free() {
    Destroying();
    delete this;
}

TComponent* TComponent::Components(int index) const {
    if (index < 0 || index >= ComponentCount()) {
        throw EListError::outOfBounds(index);
    }
    return m_components[static_cast<std::size_t>(index)];
}

TComponent* TComponent::FindComponent(const QString& name) const {
    if (name.isEmpty()) {
        return nullptr;
    }
    for (TComponent* c : m_components) {
        if (c->m_name.compare(name, Qt::CaseInsensitive) == 0) {
            return c;
        }
    }
    return nullptr;
}

void TComponent::InsertComponent(TComponent* component) {
    if (component == nullptr || component == this || component->m_owner == this) {
        return;
    }
    if (component->m_owner != nullptr) {
        component->m_owner->RemoveComponent(component);
    }
    m_components.push_back(component);
    component->m_owner = this;
    if (m_state.testFlag(csDesigning)) {
        component->SetDesigning(true);
    }
    Notification(component, opInsert);
}

void TComponent::RemoveComponent(TComponent* component) {
    if (component == nullptr || component->m_owner != this) {
        return;
    }
    Notification(component, opRemove);
    const auto it = std::find(m_components.begin(), m_components.end(), component);
    if (it != m_components.end()) {
        m_components.erase(it);
    }
    component->m_owner = nullptr;
}

void TComponent::FreeNotification(TComponent* component) {
    if (component == nullptr || component == this) {
        return;
    }
    if (std::find(m_freeNotifies.begin(), m_freeNotifies.end(), component) ==
        m_freeNotifies.end()) {
        m_freeNotifies.push_back(component);
    }
    if (std::find(component->m_freeNotifies.begin(), component->m_freeNotifies.end(), this) ==
        component->m_freeNotifies.end()) {
        component->m_freeNotifies.push_back(this);
    }
}

void TComponent::RemoveFreeNotification(TComponent* component) {
    if (component == nullptr) {
        return;
    }
    removeFromFreeNotifies(component);
    component->removeFromFreeNotifies(this);
}

void TComponent::removeFromFreeNotifies(TComponent* component) {
    m_freeNotifies.erase(std::remove(m_freeNotifies.begin(), m_freeNotifies.end(), component),
                         m_freeNotifies.end());
}

void TComponent::BeginLoading() {
    m_state |= csLoading;
    for (TComponent* c : m_components) {
        c->BeginLoading();
    }
}

void TComponent::collectLoading(std::vector<TComponent*>& out) {
    if (m_state.testFlag(csLoading)) {
        out.push_back(this);
    }
    for (TComponent* c : m_components) {
        c->collectLoading(out);
    }
}

void TComponent::EndLoading() {
    std::vector<TComponent*> loading;
    collectLoading(loading);
    for (TComponent* c : loading) {
        c->Loaded();
    }
}

void TComponent::SetDesigning(bool designing) {
    m_state.setFlag(csDesigning, designing);
    for (TComponent* c : m_components) {
        c->SetDesigning(designing);
    }
}

void TComponent::Destroying() {
    if (m_state.testFlag(csDestroying)) {
        return;
    }
    m_state |= csDestroying;
    for (TComponent* c : m_components) {
        c->Destroying();
    }
}

void TComponent::Loaded() {
    m_state &= ~TComponentState(csLoading);
}

void TComponent::Notification(TComponent* component, TOperation operation) {
    if (operation == opRemove && component != nullptr) {
        RemoveFreeNotification(component);
    }
    // Downwards by index, re-checked each time: a handler may free components.
    for (std::size_t i = m_components.size(); i-- > 0;) {
        if (i < m_components.size()) {
            m_components[i]->Notification(component, operation);
        }
    }
}

} // namespace orvane
