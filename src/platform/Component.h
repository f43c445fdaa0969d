#pragma once

// TComponent: the component base of the program's model and window classes.
//
// - Ownership: a component created with an owner is owned by it; the owner
//   frees its owned components (last created first) when it is freed. A
//   component freed on its own leaves its owner's list by itself.
// - Notification(component, operation) is called on the owner when a
//   component is inserted into it or removed from it; the base behaviour
//   passes the notice on to every owned component, so siblings hear of each
//   other (a component inserted from its constructor is not told of itself:
//   it is not fully made yet). FreeNotification(other) asks to be told
//   (Notification(other, opRemove)) when the other component is freed; the
//   registration goes both ways, as on Windows, and is undone by
//   RemoveFreeNotification or by the freeing of either side. A component may
//   hear of one removal more than once.
// - Loading: BeginLoading marks a component and its owned components as being
//   loaded (csLoading), so that property setters only store values; EndLoading
//   then calls Loaded on each of them (the owner first), which clears the flag.
//   Overrides of Loaded call the base first.
// - Destroying: the notices of a freed component go out after its derived
//   destructors have run, from the base destructor: first its partners are
//   told, then its owned components are freed, then its owner is told.
//   csDestroying is set before any of that; Free() sets it before any
//   destructor runs, and a derived destructor may call Destroying() first for
//   the same effect.
// - Lifetime: delegates made for a component carry a token of its life and
//   are dropped once the component is destroyed (platform/Lifetime.h).
//
// Thread: main thread only.

#include <vector>

#include <QFlags>
#include <QString>

#include "platform/Exception.h"
#include "platform/Lifetime.h"
#include "platform/Object.h"

namespace orvane {

enum TOperation { opInsert, opRemove };

enum TComponentStateFlag {
    csLoading = 0x1,
    csDesigning = 0x2,
    csDestroying = 0x4,
};
Q_DECLARE_FLAGS(TComponentState, TComponentStateFlag)
Q_DECLARE_OPERATORS_FOR_FLAGS(TComponentState)

// An index outside a list or collection: "List index out of bounds (5)".
class EListError : public Exception {
public:
    using Exception::Exception;
    static EListError outOfBounds(int index);
};

class TComponent : public TObject {
public:
    explicit TComponent(TComponent* owner = nullptr);
    ~TComponent() override;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    // Sets csDestroying and frees the component.
    void Free();

    TComponent* Owner() const { return m_owner; }
    int ComponentCount() const { return static_cast<int>(m_components.size()); }
    // The owned component at an index; raises EListError outside 0..Count-1.
    TComponent* Components(int index) const;
    // The owned component of that name (letter case ignored), or null.
    TComponent* FindComponent(const QString& name) const;

    const QString& Name() const { return m_name; }
    void SetName(const QString& name) { m_name = name; }

    TComponentState ComponentState() const { return m_state; }

    // The component's life: delegates to it are not called once it ends,
    // which is when its destruction reaches this base (the derived parts are
    // gone by then).
    const Lifetime& lifetime() const { return m_lifetime; }

    // Takes ownership (from the previous owner, if any) and notifies opInsert.
    void InsertComponent(TComponent* component);
    // Notifies opRemove and gives up ownership: the caller must free it.
    void RemoveComponent(TComponent* component);

    void FreeNotification(TComponent* component);
    void RemoveFreeNotification(TComponent* component);

    void BeginLoading();
    void EndLoading();
    // Design mode (csDesigning) for this component and its owned components.
    void SetDesigning(bool designing);
    // Marks this component and its owned components as being destroyed.
    void Destroying();

    // End-of-loading hook; the base clears csLoading.
    virtual void Loaded();
    // Insertion into or removal from this owner, or the freeing of a
    // free-notification partner. The base passes it on to owned components.
    virtual void Notification(TComponent* component, TOperation operation);

protected:
    // Sets csDestroying and tells the free-notification partners now, from a
    // derived destructor whose parts the partners may still look at (the base
    // destructor would tell them only after those parts are gone).
    void NotifyDestruction();

private:
    void collectLoading(std::vector<TComponent*>& out);
    void removeFromFreeNotifies(TComponent* component);

    TComponent* m_owner = nullptr;
    std::vector<TComponent*> m_components; // owned, creation order
    std::vector<TComponent*> m_freeNotifies;
    QString m_name;
    TComponentState m_state;
    Lifetime m_lifetime;
};

} // namespace orvane
