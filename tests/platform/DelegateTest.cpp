#include "platform/Delegate.h"

#include <gtest/gtest.h>

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
