#include "platform/WaitCursorScope.h"

#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include <QCursor>
#include <QGuiApplication>

using namespace orvane;

namespace {

// How many hourglasses are stacked over the application's cursor.
int Depth() {
    int depth = 0;
    std::vector<Qt::CursorShape> taken;
    while (const QCursor* cursor = QGuiApplication::overrideCursor()) {
        taken.push_back(cursor->shape());
        QGuiApplication::restoreOverrideCursor();
        ++depth;
    }
    for (auto it = taken.rbegin(); it != taken.rend(); ++it) {
        QGuiApplication::setOverrideCursor(*it);
    }
    return depth;
}

bool Hourglass() {
    return QGuiApplication::overrideCursor() != nullptr &&
           QGuiApplication::overrideCursor()->shape() == Qt::WaitCursor;
}

} // namespace

TEST(WaitCursorScope, NestedScopesEachTakeBackTheirOwnHourglass) {
    ASSERT_EQ(Depth(), 0);
    {
        TWaitCursorScope outer;
        EXPECT_TRUE(Hourglass());
        {
            TWaitCursorScope inner;
            EXPECT_EQ(Depth(), 2);
        }
        // The inner end leaves the outer hourglass in place.
        EXPECT_EQ(Depth(), 1);
        EXPECT_TRUE(Hourglass());
    }
    EXPECT_EQ(Depth(), 0);
}

TEST(WaitCursorScope, EarlyRestoreIsNotRepeatedAtTheEndOfTheScope) {
    QGuiApplication::setOverrideCursor(Qt::CrossCursor); // somebody else's
    {
        TWaitCursorScope scope;
        scope.Restore();
        EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::CrossCursor);
        scope.Restore();
        EXPECT_EQ(Depth(), 1);
    }
    // The end of the scope must not take away the other owner's cursor.
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::CrossCursor);
    QGuiApplication::restoreOverrideCursor();
}

TEST(WaitCursorScope, AnExceptionOrEarlyReturnLeavesNoHourglass) {
    const auto work = [](bool fail) {
        TWaitCursorScope scope;
        if (fail) {
            throw std::runtime_error("failed");
        }
        return Hourglass();
    };
    EXPECT_THROW(work(true), std::runtime_error);
    EXPECT_EQ(Depth(), 0);
    EXPECT_TRUE(work(false));
    EXPECT_EQ(Depth(), 0);
}
