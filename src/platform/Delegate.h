#pragma once

// An event handler in the form the component model uses: a method of a
// receiving object. Two delegates are equal when they name the same method of
// the same object, so a component can tell that a handler is already set. An empty delegate is
// false and calling it does nothing.
//
// Receivers that may go away: a delegate made for a receiver that offers a
// lifetime() (every component does, see platform/Lifetime.h) carries a token of
// that life and is not called once the receiver is destroyed; it is then false,
// as if empty. A receiver without a lifetime() can pass a token of its own. A
// delegate without a token borrows its receiver unguarded: whoever assigns it
// clears it before the receiver dies.

#include <array>
#include <concepts>
#include <cstring>
#include <type_traits>
#include <utility>

#include "platform/Lifetime.h"

namespace orvane {

namespace detail {

template <typename U>
concept HasLifetime = requires(const U& receiver) {
    { receiver.lifetime() } -> std::same_as<const Lifetime&>;
};

template <typename U>
LifeToken lifeTokenOf(const U* receiver) {
    if constexpr (HasLifetime<U>) {
        if (receiver != nullptr) {
            return receiver->lifetime().token();
        }
    }
    return {};
}

template <typename U>
bool isGuarded(const U* receiver) {
    if constexpr (HasLifetime<U>) {
        return receiver != nullptr;
    }
    return false;
}

} // namespace detail

template <typename... Args>
class Delegate {
public:
    Delegate() = default;

    template <typename T, typename U>
    requires std::is_base_of_v<T, U> Delegate(U* object, void (T::*method)(Args...))
        : m_object(static_cast<T*>(object)), m_guard(detail::lifeTokenOf<U>(object)),
          m_guarded(detail::isGuarded<U>(object)) {
        store<T>(method);
    }

    template <typename T, typename U>
    requires std::is_base_of_v<T, U> Delegate(U* object, void (T::*method)(Args...) const)
        : m_object(const_cast<T*>(static_cast<const T*>(object))),
          m_guard(detail::lifeTokenOf<U>(object)), m_guarded(detail::isGuarded<U>(object)) {
        store<T>(method);
    }

    // A receiver guarded by a token the caller chose (a receiver without a
    // lifetime() of its own, or a shorter life than the receiver's).
    template <typename T, typename U>
    requires std::is_base_of_v<T, U> Delegate(U* object, void (T::*method)(Args...),
                                              LifeToken guard)
        : m_object(static_cast<T*>(object)), m_guard(std::move(guard)), m_guarded(true) {
        store<T>(method);
    }

    template <typename T, typename U>
    requires std::is_base_of_v<T, U> Delegate(U* object, void (T::*method)(Args...) const,
                                              LifeToken guard)
        : m_object(const_cast<T*>(static_cast<const T*>(object))), m_guard(std::move(guard)),
          m_guarded(true) {
        store<T>(method);
    }

    // False when empty or when the guarded receiver is gone.
    explicit operator bool() const {
        return m_thunk != nullptr && m_object != nullptr && !(m_guarded && m_guard.expired());
    }
    bool isEmpty() const { return !static_cast<bool>(*this); }
    // Whether the delegate carries a token of its receiver's life.
    bool isGuarded() const { return m_guarded; }
    void* receiver() const { return m_object; }
    void clear() { *this = Delegate(); }

    // Calls the receiver unless the delegate is empty or its receiver gone.
    void operator()(Args... args) const {
        if (*this) {
            m_thunk(m_object, m_method, std::forward<Args>(args)...);
        }
    }

    friend bool operator==(const Delegate& a, const Delegate& b) {
        // The guard is left out: a handler made while its receiver is being
        // taken apart (to unsubscribe it) still finds the one made before.
        return a.m_object == b.m_object && a.m_thunk == b.m_thunk && a.m_method == b.m_method;
    }

private:
    using Storage = std::array<unsigned char, 2 * sizeof(void*)>;
    using Thunk = void (*)(void*, const Storage&, Args...);

    template <typename T, typename M>
    void store(M method) {
        static_assert(sizeof(method) <= sizeof(Storage), "method pointer too large");
        std::memcpy(m_method.data(), &method, sizeof(method));
        m_thunk = &thunk<T, M>;
    }

    template <typename T, typename M>
    static void thunk(void* object, const Storage& storage, Args... args) {
        M method;
        std::memcpy(&method, storage.data(), sizeof(method));
        (static_cast<T*>(object)->*method)(std::forward<Args>(args)...);
    }

    void* m_object = nullptr;
    Thunk m_thunk = nullptr;
    Storage m_method{};
    LifeToken m_guard;
    bool m_guarded = false;
};

} // namespace orvane
