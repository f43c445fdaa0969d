#include "bound/KIForms.h"

#include <algorithm>

#include <QEvent>
#include <QPointer>

#include "platform/DialogService.h"

namespace orvane {

void TNotifyEventSet::Add(const TContainerStateHandler& handler) {
    if (!Contains(handler)) {
        m_entries.push_back(handler);
    }
}

void TNotifyEventSet::Remove(const TContainerStateHandler& handler) {
    const auto it = std::find(m_entries.begin(), m_entries.end(), handler);
    if (it != m_entries.end()) {
        m_entries.erase(it);
    }
}

bool TNotifyEventSet::Contains(const TContainerStateHandler& handler) const {
    return std::find(m_entries.begin(), m_entries.end(), handler) != m_entries.end();
}

void TNotifyEventSet::Fire(std::uint8_t state) {
    // A handler may free controls that are later in the list; they leave the
    // set from their destructors, so each entry is looked up again before it
    // is called.
    const std::vector<TContainerStateHandler> snapshot = m_entries;
    for (const TContainerStateHandler& handler : snapshot) {
        if (Contains(handler)) {
            handler(state);
        }
    }
}

TContainerRegistration::TContainerRegistration(std::weak_ptr<TNotifyEventSet> set,
                                               TContainerStateHandler handler)
    : m_set(std::move(set)), m_handler(handler) {}

TContainerRegistration::~TContainerRegistration() {
    Reset();
}

TContainerRegistration::TContainerRegistration(TContainerRegistration&& other) noexcept
    : m_set(std::move(other.m_set)), m_handler(other.m_handler) {
    other.m_set.reset();
    other.m_handler.clear();
}

TContainerRegistration& TContainerRegistration::operator=(TContainerRegistration&& other) noexcept {
    if (this != &other) {
        // The same handler in the same set is held once: taking the new token
        // must not remove it.
        const bool same = !m_set.owner_before(other.m_set) && !other.m_set.owner_before(m_set) &&
                          m_handler == other.m_handler;
        if (!same) {
            Reset();
        }
        m_set = std::move(other.m_set);
        m_handler = other.m_handler;
        other.m_set.reset();
        other.m_handler.clear();
    }
    return *this;
}

bool TContainerRegistration::IsRegistered() const {
    const std::shared_ptr<TNotifyEventSet> set = m_set.lock();
    return set && set->Contains(m_handler);
}

void TContainerRegistration::Reset() {
    if (const std::shared_ptr<TNotifyEventSet> set = m_set.lock()) {
        set->Remove(m_handler);
    }
    m_set.reset();
    m_handler.clear();
}

TKIContainer::TKIContainer(QWidget* self)
    : m_self(self), m_handlers(std::make_shared<TNotifyEventSet>()) {}

TKIContainer::~TKIContainer() = default;

TContainerRegistration TKIContainer::RegisterStateHandler(const TContainerStateHandler& handler) {
    m_handlers->Add(handler);
    return TContainerRegistration(m_handlers, handler);
}

void TKIContainer::FireState() {
    // The set lives on through the fire even when a handler frees this
    // container.
    const std::shared_ptr<TNotifyEventSet> handlers = m_handlers;
    handlers->Fire(EffectiveState());
}

bool TKIContainer::OwnVisible() const {
    return !m_self->isHidden();
}

bool TKIContainer::OwnEnabled() const {
    return !m_self->testAttribute(Qt::WA_ForceDisabled);
}

void TKINestedContainer::ParentStateChanged(std::uint8_t state) {
    m_parentState = state;
    FireState();
}

std::uint8_t TKINestedContainer::EffectiveState() const {
    std::uint8_t state = 0;
    if ((m_parentState & kStateShown) && OwnVisible()) {
        state |= kStateShown;
    }
    if ((state & kStateShown) && (m_parentState & kStateEnabled) && OwnEnabled()) {
        state |= kStateEnabled;
    }
    return state;
}

void TKINestedContainer::Loaded() {
    m_parentRegistration = RegisterWithContainer(
        ContainerOf(Self()), TContainerStateHandler(this, &TKINestedContainer::ParentStateChanged));
}

QWidget* ContainerOf(QWidget* widget) {
    QWidget* parent = widget ? widget->parentWidget() : nullptr;
    if (parent == nullptr || dynamic_cast<TKIContainer*>(parent) != nullptr) {
        return parent;
    }
    // A scroll box holds its controls in its inner widget, inside its viewport.
    for (QWidget* up = parent->parentWidget(); up != nullptr; up = up->parentWidget()) {
        if (auto* box = dynamic_cast<TKIScrollBox*>(up)) {
            return box->widget() == parent ? box : parent;
        }
        if (dynamic_cast<TKIContainer*>(up) != nullptr) {
            break;
        }
    }
    return parent;
}

TContainerRegistration RegisterWithContainer(QWidget* container,
                                             const TContainerStateHandler& handler) {
    if (auto* c = dynamic_cast<TKIContainer*>(container)) {
        return c->RegisterStateHandler(handler);
    }
    const QString name = container ? container->objectName() : QString();
    showError(name + QLatin1String(kNotAFormText));
    return {};
}

namespace {

void loadedBelow(QWidget* widget) {
    // Children may be created by a Loaded() (none are today), so the list is
    // taken after the parent has run its own.
    const QObjectList children = widget->children();
    std::vector<QPointer<QWidget>> widgets;
    for (QObject* child : children) {
        if (auto* w = qobject_cast<QWidget*>(child); w && !w->isWindow()) {
            widgets.emplace_back(w);
        }
    }
    for (const QPointer<QWidget>& child : widgets) {
        if (child) {
            LoadedTree(child);
        }
    }
}

} // namespace

void LoadedTree(QWidget* root) {
    if (root == nullptr) {
        return;
    }
    // The form itself runs this walk from its Loaded(); it has no Loaded() of
    // its own beyond that.
    if (auto* part = dynamic_cast<TKIFormPart*>(root); part && !dynamic_cast<TKIForm*>(root)) {
        QPointer<QWidget> guard(root);
        part->Loaded();
        if (!guard) {
            return;
        }
    }
    loadedBelow(root);
}

// TKITopContainer

TKITopContainer::~TKITopContainer() {
    m_destroying = true;
}

std::uint8_t TKITopContainer::EffectiveState() const {
    std::uint8_t state = 0;
    if (isVisible()) {
        state |= kStateShown;
    }
    if (state != 0 && isEnabled()) {
        state |= kStateEnabled;
    }
    return state;
}

void TKITopContainer::setVisible(bool visible) {
    QPointer<QWidget> guard(this);
    QWidget::setVisible(visible);
    if (guard && !m_destroying) {
        FireState();
    }
}

void TKITopContainer::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    FireState();
}

void TKITopContainer::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (!m_destroying) {
        FireState();
    }
}

void TKITopContainer::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::EnabledChange && !m_destroying) {
        FireState();
    }
}

void TKIForm::Loaded() {
    loadedBelow(this);
}

} // namespace orvane
