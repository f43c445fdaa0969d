#include "platform/Delegate.h"

#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <vector>

#include "platform/Component.h"
#include "platform/Lifetime.h"

namespace {

struct Receiver {
    int calls = 0;
    int last = 0;
    void onValue(int v) {
        ++calls;
        last = v;
    }
    void onOther(int v) { last = -v; }
};

struct Derived : Receiver {};

} // namespace

using orvane::Delegate;

TEST(Delegate, EqualOnlyForSameObjectAndMethod) {
    Receiver a, b;
    Delegate<int> d1(&a, &Receiver::onValue);
    Delegate<int> d2(&a, &Receiver::onValue);
    Delegate<int> d3(&b, &Receiver::onValue);
    Delegate<int> d4(&a, &Receiver::onOther);
    EXPECT_EQ(d1, d2);
    EXPECT_FALSE(d1 == d3);
    EXPECT_FALSE(d1 == d4);
    EXPECT_FALSE(d1 == Delegate<int>());
    EXPECT_EQ(Delegate<int>(), Delegate<int>());
}

TEST(Delegate, CallsTheMethodAndEmptyDoesNothing) {
    Derived r;
    Delegate<int> d(&r, &Receiver::onValue);
    ASSERT_TRUE(d);
    d(7);
    EXPECT_EQ(r.calls, 1);
    EXPECT_EQ(r.last, 7);

    Delegate<int> empty;
    EXPECT_FALSE(empty);
    empty(3); // must not crash
    d.clear();
    EXPECT_TRUE(d.isEmpty());
    d(9);
    EXPECT_EQ(r.calls, 1);
}

namespace {

using orvane::Lifetime;
using orvane::LifeToken;
using orvane::TComponent;

// A component that counts its calls; the counter outlives it.
class Counter : public TComponent {
public:
    explicit Counter(int* calls) : m_calls(calls) {}
    void onValue(int) { ++*m_calls; }

private:
    int* m_calls;
};

// A receiver without a lifetime() that guards itself with a token.
struct Plain {
    Lifetime life;
    int calls = 0;
    void onValue(int) { ++calls; }
};

// A component that frees itself from inside its own handler, as a window
// closes on a value it was told.
class SelfFreeing : public TComponent {
public:
    explicit SelfFreeing(int* calls) : m_calls(calls) {}
    void onValue(int) {
        ++*m_calls;
        Free();
    }

private:
    int* m_calls;
};

} // namespace

TEST(Delegate, HandlerMadeAfterTheLifeEndedStillMatchesButIsNeverCalled) {
    Plain plain;
    const Delegate<int> before(&plain, &Plain::onValue, plain.life.token());
    plain.life.end(); // as a receiver's destructor does
    const Delegate<int> after(&plain, &Plain::onValue, plain.life.token());
    // An unsubscribe made while the receiver is taken apart finds its handler.
    EXPECT_EQ(before, after);
    before(1);
    after(1);
    EXPECT_EQ(plain.calls, 0);
}

TEST(Delegate, ComponentReceiverIsGuardedAndDroppedOnceDestroyed) {
    int calls = 0;
    auto* receiver = new Counter(&calls);
    const Delegate<int> handler(receiver, &Counter::onValue);
    ASSERT_TRUE(handler.isGuarded());
    handler(1);
    EXPECT_EQ(calls, 1);
    delete receiver;
    EXPECT_FALSE(handler);
    handler(2); // under ASan a call here would be a use after free
    EXPECT_EQ(calls, 1);
}

TEST(Delegate, ExplicitTokenGuardsAPlainReceiver) {
    auto plain = std::make_unique<Plain>();
    const Delegate<int> guarded(plain.get(), &Plain::onValue, plain->life.token());
    const Delegate<int> unguarded(plain.get(), &Plain::onValue);
    EXPECT_TRUE(guarded.isGuarded());
    EXPECT_FALSE(unguarded.isGuarded());
    guarded(1);
    EXPECT_EQ(plain->calls, 1);
    // Guarded or not, it is the same handler (an unsubscribe finds it).
    EXPECT_EQ(guarded, unguarded);
    plain.reset();
    EXPECT_FALSE(guarded);
    guarded(2);
}

TEST(Delegate, AnEndedLifeGivesOnlyExpiredTokens) {
    Lifetime life;
    const LifeToken before = life.token();
    EXPECT_FALSE(before.expired());
    life.end();
    EXPECT_TRUE(before.expired());
    EXPECT_TRUE(life.token().expired());
    // A copy of a receiver starts a life of its own.
    Lifetime original;
    const LifeToken originalToken = original.token();
    {
        const Lifetime copy(original);
        EXPECT_FALSE(copy.token().expired());
    }
    EXPECT_FALSE(originalToken.expired());
}

TEST(Delegate, AStaleHandlerIsNotCalledEvenWhenANewReceiverTakesTheAddress) {
    int calls = 0;
    alignas(Counter) unsigned char storage[sizeof(Counter)];
    auto* first = new (storage) Counter(&calls);
    const Delegate<int> stale(first, &Counter::onValue);
    first->~Counter();
    auto* second = new (storage) Counter(&calls);
    const Delegate<int> fresh(second, &Counter::onValue);
    stale(1);
    EXPECT_EQ(calls, 0);
    fresh(1);
    EXPECT_EQ(calls, 1);
    second->~Counter();
}

TEST(Delegate, ReceiverThatFreesItselfInItsHandlerIsNotCalledAgain) {
    int calls = 0;
    auto* receiver = new SelfFreeing(&calls);
    const Delegate<int> handler(receiver, &SelfFreeing::onValue);
    // A sender that calls the same handler twice in one round, as a list of
    // subscribers holding it twice would.
    const std::vector<Delegate<int>> subscribers{handler, handler};
    for (const Delegate<int>& h : subscribers) {
        h(1);
    }
    EXPECT_EQ(calls, 1);
}
