#pragma once

// One timing struct per class. Every interval, time-out, pause and retry count
// of a class sits in its nested `Timing` struct, whose defaults are the named
// constants beside the class (the product's values). The class reads the
// values in force with TimingOf<Timing>::current(); a test shortens them for
// one scope and gets the previous values back when the scope ends:
//
//     const TKIServer::TimingScope fast({.retryIntervalMs = 50});
//
// A value is always taken as it is: 0 means no wait, never "the default".
// Values are read when a wait starts; changing them does not touch a wait that
// is already running.
//
// Thread: set from the main thread before the work that reads them starts.

namespace orvane {

template <typename T>
class TimingOf {
public:
    static const T& current() { return slot(); }

    // Puts timing in force for the life of the scope; scopes nest.
    class Scope {
    public:
        explicit Scope(const T& timing) : m_saved(slot()) { slot() = timing; }
        ~Scope() { slot() = m_saved; }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        T m_saved;
    };

private:
    static T& slot() {
        static T value;
        return value;
    }
};

} // namespace orvane
