#pragma once

// An event handler in the form the component model uses: a method of a
// receiving object. Two delegates are equal when they name the same method of
// the same object, so a component can tell that a handler is already set. An
// empty delegate is false and calling it does nothing.
//
// The receiver is borrowed: whoever assigns a handler must clear it before the
// receiver dies (components do that in their Notification or destructor).

#include <array>
#include <cstring>
#include <type_traits>
#include <utility>

namespace orvane {

template <typename... Args>
class Delegate {
public:
    Delegate() = default;

    template <typename T, typename U>
    requires std::is_base_of_v<T, U> Delegate(U* object, void (T::*method)(Args...))
        : m_object(static_cast<T*>(object)) {
        static_assert(sizeof(method) <= sizeof(Storage), "method pointer too large");
        std::memcpy(m_method.data(), &method, sizeof(method));
        m_thunk = &thunk<T, void (T::*)(Args...)>;
    }

    template <typename T, typename U>
    requires std::is_base_of_v<T, U> Delegate(U* object, void (T::*method)(Args...) const)
        : m_object(const_cast<T*>(static_cast<const T*>(object))) {
        static_assert(sizeof(method) <= sizeof(Storage), "method pointer too large");
        std::memcpy(m_method.data(), &method, sizeof(method));
        m_thunk = &thunk<T, void (T::*)(Args...) const>;
    }

    explicit operator bool() const { return m_thunk != nullptr && m_object != nullptr; }
    bool isEmpty() const { return !static_cast<bool>(*this); }
    void* receiver() const { return m_object; }
    void clear() { *this = Delegate(); }

    void operator()(Args... args) const {
        if (*this) {
            m_thunk(m_object, m_method, std::forward<Args>(args)...);
        }
    }

    friend bool operator==(const Delegate& a, const Delegate& b) {
        return a.m_object == b.m_object && a.m_thunk == b.m_thunk && a.m_method == b.m_method;
    }

private:
    using Storage = std::array<unsigned char, 2 * sizeof(void*)>;
    using Thunk = void (*)(void*, const Storage&, Args...);

    template <typename T, typename M>
    static void thunk(void* object, const Storage& storage, Args... args) {
        M method;
        std::memcpy(&method, storage.data(), sizeof(method));
        (static_cast<T*>(object)->*method)(std::forward<Args>(args)...);
    }

    void* m_object = nullptr;
    Thunk m_thunk = nullptr;
    Storage m_method{};
};

} // namespace orvane
