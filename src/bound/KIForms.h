#pragma once

// Containers of a bound service screen. Each container passes its state (a
// byte of two flags: kStateShown 1, kStateEnabled 2) down to the bound
// controls and nested containers that registered with it, so that a bound
// control holds its item's advise link only while everything above it is
// shown and enabled.
//
// - TKIForm is the top of a chain: its state is its own visibility and
//   enabled flag. It fires after it is shown or hidden (not on the hide of its
//   destruction), after every change of its enabled flag and after every
//   setVisible.
// - TKITabSheet is a page of a QTabWidget; it is the top of its own chain: its
//   state is whether the page is on screen (the current page of a shown page
//   control) and enabled, so only the page in front holds advise links.
// - TKIPanel, TKIGroupBox and TKIScrollBox are nested: their state is the last
//   state their parent sent, masked with their own flags (not explicitly
//   hidden, not explicitly disabled). They register with their parent
//   container in Loaded(), and fire when their flags change or the parent
//   sends a new state.
// - A state without kStateShown carries no kStateEnabled either: whatever is
//   hidden passes 0, so a hidden panel sends 0 whatever its form sends.
//
// Registration gives back a TContainerRegistration: while it lives, the
// handler stays in the container's set; it leaves the set when the token is
// destroyed, so a control destroyed before its container is never called
// again. A container that goes first simply leaves its tokens empty.
//
// Building a screen: create the containers and controls, call BeginLoading()
// on the bound controls, set their properties, then call TKIForm::Loaded()
// (or LoadedTree() on any widget), which runs Loaded() on every container and
// bound control below, parents first, as loading a stored form would.
//
// Thread: GUI thread only. A handler may free controls, containers or itself
// while it is being called.

#include <cstdint>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include <QEvent>
#include <QFrame>
#include <QGroupBox>
#include <QPointer>
#include <QScrollArea>
#include <QString>
#include <QWidget>

#include "platform/Delegate.h"

namespace orvane {

// The state flags a container passes down.
constexpr std::uint8_t kStateShown = 1;
constexpr std::uint8_t kStateEnabled = 2;
constexpr std::uint8_t kStateActive = kStateShown | kStateEnabled;

// A notification with the sending control.
using TNotifyEvent = Delegate<QWidget*>;

// A handler of container states: a method of the receiving object, called
// with the state byte.
using TContainerStateHandler = Delegate<std::uint8_t>;

// The text after a widget's name when it is not one of the containers.
inline constexpr const char* kNotAFormText = " is not an Formweave Library form";

// An ordered set of state handlers. Equal handlers (same method, same
// receiver) are held once.
class TNotifyEventSet {
public:
    // Appends the handler unless an equal one is already held.
    void Add(const TContainerStateHandler& handler);
    // Removes the handler when held (receivers that go away leave this way).
    void Remove(const TContainerStateHandler& handler);
    bool Contains(const TContainerStateHandler& handler) const;
    int Count() const { return static_cast<int>(m_entries.size()); }
    // Calls every handler with the state, in the order of addition. A handler
    // removed by an earlier one during the fire is not called.
    void Fire(std::uint8_t state);

private:
    std::vector<TContainerStateHandler> m_entries;
};

// A handler's place in a container's set; removes it when destroyed or reset.
// Movable, not copyable.
class TContainerRegistration {
public:
    TContainerRegistration() = default;
    TContainerRegistration(std::weak_ptr<TNotifyEventSet> set, TContainerStateHandler handler);
    ~TContainerRegistration();
    TContainerRegistration(TContainerRegistration&& other) noexcept;
    TContainerRegistration& operator=(TContainerRegistration&& other) noexcept;
    TContainerRegistration(const TContainerRegistration&) = delete;
    TContainerRegistration& operator=(const TContainerRegistration&) = delete;

    // True while the handler is held by a container that still exists.
    bool IsRegistered() const;
    void Reset();

private:
    std::weak_ptr<TNotifyEventSet> m_set;
    TContainerStateHandler m_handler;
};

// Something Loaded() is run on when a screen has been built.
class TKIFormPart {
public:
    virtual ~TKIFormPart() = default;
    virtual void Loaded() = 0;
};

// What the five containers share.
class TKIContainer : public TKIFormPart {
public:
    explicit TKIContainer(QWidget* self);
    ~TKIContainer() override;

    // Adds the handler to this container's set; see TContainerRegistration.
    TContainerRegistration RegisterStateHandler(const TContainerStateHandler& handler);
    virtual std::uint8_t EffectiveState() const = 0;
    // Fires the set with the effective state.
    void FireState();
    int HandlerCount() const { return m_handlers->Count(); }
    void Loaded() override {}

protected:
    QWidget* Self() const { return m_self; }
    // The widget's own flags: not explicitly hidden, not explicitly disabled.
    bool OwnVisible() const;
    bool OwnEnabled() const;

private:
    QWidget* m_self;
    std::shared_ptr<TNotifyEventSet> m_handlers;
};

// A container whose state is its parent's, masked with its own flags.
class TKINestedContainer : public TKIContainer {
public:
    using TKIContainer::TKIContainer;

    std::uint8_t ParentState() const { return m_parentState; }
    // Stores the parent's state and fires the new effective state.
    void ParentStateChanged(std::uint8_t state);
    std::uint8_t EffectiveState() const override;
    // Registers ParentStateChanged with the parent widget (an error box when
    // the parent is not a container).
    void Loaded() override;
    bool IsRegisteredWithParent() const { return m_parentRegistration.IsRegistered(); }

private:
    std::uint8_t m_parentState = 0;
    TContainerRegistration m_parentRegistration;
};

// Adds the handler to the container's set when the widget is a TKIForm,
// TKITabSheet, TKIPanel, TKIScrollBox or TKIGroupBox; otherwise shows the
// error box "<objectName> is not an Formweave Library form" (OK) and gives an
// empty registration.
TContainerRegistration RegisterWithContainer(QWidget* container,
                                             const TContainerStateHandler& handler);

// Runs Loaded() on the widget (when it is a form part) and on every widget
// below it that is one, parents before their children, in creation order.
void LoadedTree(QWidget* root);

// The top of a chain (form, tab sheet): its state is whether it is on screen
// and enabled. It fires after it is shown or hidden (not on the hide of its
// destruction), after every change of its enabled flag and after every
// setVisible.
class TKITopContainer : public QWidget, public TKIContainer {
public:
    explicit TKITopContainer(QWidget* parent) : QWidget(parent), TKIContainer(this) {}
    ~TKITopContainer() override;

    std::uint8_t EffectiveState() const override;
    void setVisible(bool visible) override;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    bool m_destroying = false;
};

class TKIForm : public TKITopContainer {
    Q_OBJECT
public:
    explicit TKIForm(QWidget* parent = nullptr) : TKITopContainer(parent) {}
    // Runs Loaded() on every container and bound control of the form.
    void Loaded() override;
};

class TKITabSheet : public TKITopContainer {
    Q_OBJECT
public:
    explicit TKITabSheet(QWidget* parent = nullptr) : TKITopContainer(parent) {}
};

// A nested container on any Qt widget: it fires on its own flag changes. Qt
// also reports an enabled change that comes from above; firing the
// (unchanged) effective state again then does no harm.
template <class Widget>
class TKINestedWidget : public Widget, public TKINestedContainer {
public:
    // Constrained, so that the container is never taken for copyable.
    template <class... Args>
    requires std::is_constructible_v<Widget, Args&&...>
    explicit TKINestedWidget(Args&&... args)
        : Widget(std::forward<Args>(args)...), TKINestedContainer(this) {}

    void setVisible(bool visible) override {
        QPointer<QWidget> guard(this);
        Widget::setVisible(visible);
        if (guard) {
            FireState();
        }
    }

protected:
    void changeEvent(QEvent* event) override {
        Widget::changeEvent(event);
        if (event->type() == QEvent::EnabledChange) {
            FireState();
        }
    }
};

class TKIPanel : public TKINestedWidget<QFrame> {
    Q_OBJECT
public:
    explicit TKIPanel(QWidget* parent = nullptr) : TKINestedWidget(parent) {}
};

class TKIGroupBox : public TKINestedWidget<QGroupBox> {
    Q_OBJECT
public:
    explicit TKIGroupBox(QWidget* parent = nullptr) : TKINestedWidget(parent) {}
    explicit TKIGroupBox(const QString& title, QWidget* parent = nullptr)
        : TKINestedWidget(title, parent) {}
};

// The scroll box's controls are children of its inner widget (widget()); they
// register with the scroll box itself through LoadedTree, which finds it as
// their nearest container.
class TKIScrollBox : public TKINestedWidget<QScrollArea> {
    Q_OBJECT
public:
    explicit TKIScrollBox(QWidget* parent = nullptr) : TKINestedWidget(parent) {}
};

// The widget a bound control or nested container registers with: its parent,
// or, for a control inside a scroll box's inner widget, the scroll box.
QWidget* ContainerOf(QWidget* widget);

} // namespace orvane
