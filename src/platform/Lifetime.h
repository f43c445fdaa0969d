#pragma once

// Lifetime: the one guard for receivers that may go away while a call to them
// is pending. A receiver owns a Lifetime; whoever may call it later keeps a
// LifeToken, a weak handle that expires the moment the receiver's Lifetime is
// destroyed. Delegates carry such a token and skip the call once it has
// expired; a sender that calls out and may be freed by the call (a subscriber
// that releases its item, a message box whose loop closes a window) takes a
// token of its own Lifetime first and returns at once when it has expired.
//
// Components own one (TComponent::lifetime()); other receivers declare a
// Lifetime member, last of their members so that it expires first, and offer
// it as lifetime().
//
// Copying a receiver does not copy its life: the copy starts one of its own.
// Thread: main thread only (tokens are not meant to cross threads).

#include <memory>

namespace orvane {

using LifeToken = std::weak_ptr<const void>;

class Lifetime {
public:
    Lifetime() = default;
    Lifetime(const Lifetime&) noexcept {}
    Lifetime& operator=(const Lifetime&) noexcept { return *this; }
    ~Lifetime() = default;

    // A token of this life; every token of one life is the same life. Once the
    // life has ended, an expired token.
    LifeToken token() const {
        if (!m_alive && !m_ended) {
            m_alive = std::make_shared<const char>('\0');
        }
        return m_alive;
    }

    // Ends the life before the object goes (from a destructor that is about to
    // take the receiver apart): every token expires now.
    void end() {
        m_alive.reset();
        m_ended = true;
    }
    bool hasEnded() const { return m_ended; }

private:
    // Made on the first token only: most receivers are never asked for one.
    mutable std::shared_ptr<const char> m_alive;
    bool m_ended = false;
};

} // namespace orvane
