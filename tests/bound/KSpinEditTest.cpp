// The free-standing spin edits and the time value of the timer edit: step
// sizes, number texts under a decimal comma, typing with the 10 % band, the
// key filter, the repeat of a held button, and the timer's steps and text.

#include "bound/KSpinEdit.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QLocale>
#include <QTest>
#include <QTimer>

#include "Wait.h"
#include "bound/KITimerEdit.h"
#include "bound/KMultiFieldSpinEdit.h"
#include "platform/Component.h"

using namespace orvane;

namespace {

class LocaleScope {
public:
    explicit LocaleScope(const QLocale& locale) { QLocale::setDefault(locale); }
    ~LocaleScope() { QLocale::setDefault(m_previous); }

private:
    QLocale m_previous;
};

struct Counter {
    void Count(QWidget*) { ++count; }
    TNotifyEvent handler() { return TNotifyEvent(this, &Counter::Count); }
    int count = 0;
};

TEST(SpinSteps, PercentStepsOfRealAndIntegerValues) {
    struct Case {
        double value;
        bool integer;
        TSpinStep step;
        double expected;
    };
    const Case cases[] = {
        {250, false, ssFineUp, 252.5},  {250, false, ssCoarseDown, 225},
        {0.5, false, ssFineUp, 0.51},   {-0.1, false, ssCoarseUp, -0.09},
        {0.2, false, ssCoarseUp, 0.21}, {1, false, ssFineDown, 0.99},
        {150, true, ssFineUp, 152},     {100, true, ssFineUp, 101},
        {10, true, ssCoarseDown, 9},    {-500, true, ssCoarseUp, -450},
        {-150, true, ssFineDown, -152}, {0, false, ssFineDown, -0.01},
    };
    for (const Case& c : cases) {
        EXPECT_DOUBLE_EQ(StepValue(c.value, c.integer, c.step), c.expected)
            << c.value << " step " << c.step;
    }
}

TEST(SpinNumbers, DecimalCommaWithoutGroupSeparators) {
    LocaleScope german(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(FormatNumber(1234567.891, 2), QStringLiteral("1234567,89"));
    EXPECT_EQ(FormatNumber(-0.001, 2), QStringLiteral("0,00"));
    EXPECT_EQ(NumberText(252.5), QStringLiteral("252,5"));
    EXPECT_EQ(NumberText(-0.09000000000000001), QStringLiteral("-0,09"));
    EXPECT_EQ(NumberText(1500), QStringLiteral("1500"));

    double value = 0;
    ASSERT_TRUE(ReadNumber(QStringLiteral("2,5"), &value));
    EXPECT_DOUBLE_EQ(value, 2.5);
    // The control's own texts use a point; a point never reads as a group mark.
    ASSERT_TRUE(ReadNumber(QStringLiteral("1.234"), &value));
    EXPECT_DOUBLE_EQ(value, 1.234);
    EXPECT_FALSE(ReadNumber(QStringLiteral("1.234,5"), &value));
    EXPECT_FALSE(ReadNumber(QStringLiteral("abc"), &value));
    EXPECT_FALSE(ReadNumber(QString(), &value));
}

TEST(SpinEdit, TypedValuesWithinTenPercentAreTaken) {
    TKSpinEdit edit;
    Counter changes;
    Counter checks;
    edit.SetOnChangeValue(changes.handler());
    edit.SetOnCheckClick(checks.handler());
    edit.SetSpinValue(100);
    EXPECT_EQ(edit.Edit()->text(), QStringLiteral("100.00"));

    QTest::keyClicks(edit.Edit(), QStringLiteral("x"));
    EXPECT_FALSE(edit.Typing()) << "a letter is dropped";

    edit.Edit()->selectAll();
    QTest::keyClicks(edit.Edit(), QStringLiteral("115"));
    EXPECT_TRUE(edit.Typing());
    EXPECT_TRUE(edit.CheckButton()->isVisibleTo(&edit));
    EXPECT_FALSE(edit.StepButton(ssFineUp)->isVisibleTo(&edit));
    QTest::keyClick(edit.Edit(), Qt::Key_Return);
    EXPECT_FALSE(edit.Typing());
    EXPECT_DOUBLE_EQ(edit.SpinValue(), 100);
    EXPECT_EQ(edit.Edit()->text(), QStringLiteral("100.00"));

    edit.Edit()->selectAll();
    QTest::keyClicks(edit.Edit(), QStringLiteral("108="));
    EXPECT_DOUBLE_EQ(edit.SpinValue(), 108);
    EXPECT_EQ(edit.Edit()->text(), QStringLiteral("108.00"));
    EXPECT_EQ(checks.count, 2);
    EXPECT_EQ(changes.count, 2);

    // A negative value has its band below and above it the other way round.
    edit.SetSpinValue(-100);
    edit.Edit()->selectAll();
    QTest::keyClicks(edit.Edit(), QStringLiteral("-109="));
    EXPECT_DOUBLE_EQ(edit.SpinValue(), -109);
    // From 0 only 0 is taken.
    edit.SetSpinValue(0);
    edit.Edit()->selectAll();
    QTest::keyClicks(edit.Edit(), QStringLiteral("1="));
    EXPECT_DOUBLE_EQ(edit.SpinValue(), 0);
}

TEST(SpinEdit, EscapeGivesTheTextBeforeTypingBack) {
    TKSpinEdit edit;
    edit.SetSpinValue(12.5);
    QTest::keyClicks(edit.Edit(), QStringLiteral("9"));
    EXPECT_TRUE(edit.Typing());
    QTest::keyClick(edit.Edit(), Qt::Key_Escape);
    EXPECT_FALSE(edit.Typing());
    EXPECT_EQ(edit.Edit()->text(), QStringLiteral("12.50"));
    QTest::keyClick(edit.Edit(), Qt::Key_Up);
    EXPECT_DOUBLE_EQ(edit.SpinValue(), 12.625);
}

TEST(SpinEdit, HeldButtonStepsAtOnceThenRepeats) {
    constexpr int kIntervalMs = 40;
    const TKSpinEdit::TimingScope fast({.repeatIntervalMs = kIntervalMs});
    TKSpinEdit edit;
    edit.show();
    Counter changes;
    edit.SetOnChangeValue(changes.handler());
    edit.SetSpinValue(1000);
    QWidget* button = edit.StepButton(ssCoarseDown);
    QElapsedTimer held;
    held.start();
    QTest::mousePress(button, Qt::LeftButton);
    EXPECT_EQ(changes.count, 1);
    EXPECT_DOUBLE_EQ(edit.SpinValue(), 900);
    EXPECT_TRUE(edit.IsRepeating());
    // Three repeats, however slowly the machine delivers them.
    ASSERT_TRUE(test::WaitUntil([&] { return changes.count >= 4; }));
    // The repeats are paced by the interval, never faster (a load only slows them).
    EXPECT_GE(held.elapsed(), (changes.count - 1) * kIntervalMs * 9 / 10);
    QTest::mouseRelease(button, Qt::LeftButton);
    EXPECT_FALSE(edit.IsRepeating());
    const int steps = changes.count;
    double expected = 1000;
    for (int i = 0; i < steps; ++i) {
        expected -= expected * 0.1;
    }
    EXPECT_NEAR(edit.SpinValue(), expected, 1e-6) << "one 10 % step per change";
    // Timers of one thread fire in the order they fall due: once a shot due two
    // intervals after the release has run, any repeat left over would have too.
    bool after = false;
    QTimer::singleShot(2 * kIntervalMs, Qt::PreciseTimer, [&after] { after = true; });
    ASSERT_TRUE(test::WaitUntil([&after] { return after; }));
    EXPECT_EQ(changes.count, steps) << "no step after the release";
}

TEST(MultiFieldSpinEdit, FieldIndexOutOfBoundsRaises) {
    TKMultiFieldSpinEdit edit(3);
    EXPECT_EQ(edit.Fields(0)->text(), QStringLiteral("    "));
    try {
        edit.Fields(3);
        FAIL() << "no exception";
    } catch (const EListError& e) {
        EXPECT_EQ(e.message(), QStringLiteral("Index out of bounds"));
    }
}

TEST(TimerSteps, CarryAndBorrowBetweenFields) {
    auto timer = [](int h, int m, float s) {
        TKTimer t;
        t.Hours = h;
        t.Minutes = m;
        t.Seconds = s;
        return t;
    };
    TKTimer t = timer(0, 59, 59);
    t.IncSeconds();
    EXPECT_EQ(t.Text(), QStringLiteral("01:00:00.00"));
    t = timer(2, 59, 30);
    t.IncMinutes();
    EXPECT_EQ(t.Text(), QStringLiteral("03:00:30.00"));
    t = timer(1, 0, 10);
    t.DecMinutes();
    EXPECT_EQ(t.Text(), QStringLiteral("00:59:10.00"));
    t = timer(0, 10, 0);
    t.DecHours();
    EXPECT_EQ(t.Text(), QStringLiteral("00:10:00.00"));
    // A second less than a whole hour borrows from the hours.
    t = timer(1, 0, 0);
    t.DecSeconds();
    EXPECT_EQ(t.Text(), QStringLiteral("00:59:59.00"));
    t = timer(0, 0, 0.5f);
    t.DecSeconds();
    EXPECT_EQ(t.Text(), QStringLiteral("00:00:00.50"));
    // Fractions of a second are carried, never lost.
    t = timer(0, 0, 59.5f);
    t.IncSeconds();
    EXPECT_EQ(t.Text(), QStringLiteral("00:01:00.50"));
}

TEST(TimerText, SecondsKeepTheirHundredthsAndNeverShowSixty) {
    EXPECT_EQ(TKTimer::SecondsText(5.5f), QStringLiteral("05.50"));
    EXPECT_EQ(TKTimer::SecondsText(12.34f), QStringLiteral("12.34"));
    EXPECT_EQ(TKTimer::SecondsText(59.999f), QStringLiteral("59.99"));
    TKTimer t;
    {
        LocaleScope german(QLocale(QLocale::German, QLocale::Germany));
        EXPECT_EQ(TKTimer::SecondsText(5.5f), QStringLiteral("05,50"));
        ASSERT_TRUE(t.SetText(QStringLiteral("1:02:03,5")));
        EXPECT_EQ(t.Text(), QStringLiteral("01:02:03,50"));
        ASSERT_TRUE(t.SetText(QStringLiteral("01:02:03.50"))) << "the control's own form";
    }
    ASSERT_TRUE(t.SetText(QStringLiteral("123:04:05.25")));
    EXPECT_EQ(t.Hours, 123);
    EXPECT_EQ(t.Minutes, 4);
    EXPECT_FLOAT_EQ(t.Seconds, 5.25f);
    ASSERT_TRUE(t.SetText(QStringLiteral("1:02:03.5")));
    EXPECT_EQ(t.Text(), QStringLiteral("01:02:03.50"));
    for (const char* bad : {"", "12", "1:60:00", "1:00:60", "-1:00:00", "a:b:c", "1:2:3:4"}) {
        EXPECT_FALSE(t.SetText(QString::fromLatin1(bad))) << bad;
    }
    EXPECT_EQ(t.Text(), QStringLiteral("01:02:03.50")) << "a bad text changes nothing";
}

} // namespace
