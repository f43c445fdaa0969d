#include "ddelink/DdeNotify.h"

#include <memory>

#include <gtest/gtest.h>

#include <QStringList>

#include "ddelink/DdeError.h"

using namespace orvane;

namespace {

struct Log {
    QStringList calls;
    std::unique_ptr<NotifyEventSet>* owner = nullptr;
    AdviseNotifyEventSet* advise = nullptr;

    void record(const char* tag, const char* value, const std::unique_ptr<EDdeError>& error) {
        calls << QStringLiteral("%1:%2:%3")
                     .arg(tag, value ? value : "-", error ? error->message() : "-");
    }
    void A(const char* value, std::unique_ptr<EDdeError> error) { record("A", value, error); }
    void B(const char* value, std::unique_ptr<EDdeError> error) { record("B", value, error); }
    // Destroys the set that is calling it.
    void Destroyer(const char* value, std::unique_ptr<EDdeError> error) {
        record("D", value, error);
        owner->reset();
    }
    // Ends its own advise while being called.
    void Stopper(const char* value, std::unique_ptr<EDdeError> error) {
        record("S", value, error);
        advise->Remove(7);
    }
};

} // namespace

TEST(NotifyEventSet, FiresEachEntryOnceInRegistrationOrderOfItsKey) {
    Log log;
    NotifyEventSet set;
    set.Add(5, TDdeDataEvent(&log, &Log::A));
    set.Add(5, TDdeDataEvent(&log, &Log::B));
    set.Add(6, TDdeDataEvent()); // without code: not registered
    EXPECT_EQ(set.Count(), 2);
    EXPECT_FALSE(set.Contains(6));
    EXPECT_TRUE(set.Fire(5, "x", nullptr));
    EXPECT_TRUE(set.Fire(5, nullptr, std::make_unique<EDdeError>("Busy.")));
    EXPECT_FALSE(set.Fire(5, "y", std::make_unique<EDdeError>("freed, not leaked")));
    EXPECT_EQ(log.calls, (QStringList{"A:x:-", "B:-:Busy."}));
    EXPECT_TRUE(set.IsEmpty());

    set.Add(9, TDdeDataEvent(&log, &Log::A));
    set.Add(3, TDdeDataEvent(&log, &Log::A));
    EXPECT_EQ(set.TakeFirst(), 9u);
    EXPECT_EQ(set.TakeFirst(), 3u);
    EXPECT_EQ(set.TakeFirst(), 0u);
}

TEST(NotifyEventSet, ACallbackMayDestroyTheSetThatCallsIt) {
    Log log;
    auto set = std::make_unique<NotifyEventSet>();
    log.owner = &set;
    set->Add(1, TDdeDataEvent(&log, &Log::Destroyer));
    set->Add(2, TDdeDataEvent(&log, &Log::A));
    EXPECT_TRUE(set->Fire(1, "v", nullptr));
    EXPECT_EQ(set, nullptr);
    EXPECT_EQ(log.calls, QStringList{"D:v:-"});
}

TEST(AdviseNotifyEventSet, EntriesStayUntilRemovedAndTheEarliestOfAKeyAnswers) {
    Log log;
    AdviseNotifyEventSet set;
    log.advise = &set;
    set.Add(7, TDdeDataEvent(&log, &Log::A));
    set.Add(7, TDdeDataEvent(&log, &Log::B));
    set.Add(104, TDdeDataEvent(&log, &Log::B)); // same bucket as 7
    EXPECT_TRUE(set.Fire(7, "1", nullptr));
    EXPECT_TRUE(set.Fire(7, "2", nullptr));
    EXPECT_TRUE(set.Remove(7));
    EXPECT_TRUE(set.Fire(7, "3", nullptr));
    EXPECT_TRUE(set.Fire(104, "4", nullptr));
    EXPECT_TRUE(set.Remove(7));
    EXPECT_FALSE(set.Remove(7));
    EXPECT_FALSE(set.Contains(7));
    EXPECT_FALSE(set.Fire(7, "5", nullptr));
    EXPECT_EQ(log.calls, (QStringList{"A:1:-", "A:2:-", "B:3:-", "B:4:-"}));

    // A subscriber that ends its own advise while being called.
    set.Add(7, TDdeDataEvent(&log, &Log::Stopper));
    EXPECT_TRUE(set.Fire(7, "6", nullptr));
    EXPECT_FALSE(set.Contains(7));
    EXPECT_EQ(set.Count(), 1);
}
