#include "ddelink/Synchronizer.h"

#include <memory>

#include <gtest/gtest.h>

#include <QTimer>

#include "DdeServerFixture.h"
#include "ddelink/DdeError.h"
#include "ddelink/KIDdeClientConv.h"
#include "ddelink/KIDdeMgr.h"

using namespace orvane;

namespace {

// A synchronous caller in the order every model object follows.
class SyncReader {
public:
    explicit SyncReader(TKIDdeClientConv& conv) : m_conv(conv) {}

    QByteArray Read(const QString& item) {
        m_sync.StartTransaction();
        m_conv.Request(item, TDdeDataEvent(this, &SyncReader::Completed));
        m_sync.WaitForCompletion();
        if (m_error) {
            EDdeError error = *m_error;
            m_error.reset();
            throw error;
        }
        return m_reply;
    }
    void Completed(const char* value, std::unique_ptr<EDdeError> error) {
        m_error = std::move(error);
        m_reply = value != nullptr ? QByteArray(value) : QByteArray();
        m_sync.CompleteTransaction();
    }
    Synchronizer& sync() { return m_sync; }

private:
    TKIDdeClientConv& m_conv;
    Synchronizer m_sync;
    QByteArray m_reply;
    std::unique_ptr<EDdeError> m_error;
};

} // namespace

TEST(Synchronizer, RefusesASecondTransactionWhileBusy) {
    Synchronizer sync;
    EXPECT_TRUE(sync.IsIdle());
    sync.WaitForCompletion(); // idle: returns at once
    sync.StartTransaction();
    try {
        sync.StartTransaction();
        FAIL() << "nested transaction accepted";
    } catch (const SynchronizerException& e) {
        EXPECT_EQ(e.message(), "Reentrancy on a synchronous transaction.");
    }
    // A completion that arrives while waiting ends the wait.
    QTimer::singleShot(10, [&] { sync.CompleteTransaction(); });
    sync.WaitForCompletion();
    EXPECT_TRUE(sync.IsIdle());
    EXPECT_FALSE(sync.TimedOut());
    EXPECT_EQ(Synchronizer::timing().timeoutMs, kSynchronizerTimeoutMs);
}

TEST(Synchronizer, TimeOutRaisesAndLeavesItBusyUntilALateCompletion) {
    const Synchronizer::TimingScope shortTimeout({.timeoutMs = 60});
    Synchronizer sync;
    sync.StartTransaction();
    try {
        sync.WaitForCompletion();
        FAIL() << "no time-out";
    } catch (const SynchronizerException& e) {
        EXPECT_EQ(e.message(), "Communications with the server failed.  You need to restart "
                               "your application");
    }
    EXPECT_TRUE(sync.TimedOut());
    EXPECT_FALSE(sync.IsIdle());
    EXPECT_THROW(sync.StartTransaction(), SynchronizerException);
    EXPECT_THROW(sync.StartTransaction(), SynchronizerException);
    sync.CompleteTransaction(); // the late answer
    EXPECT_NO_THROW(sync.StartTransaction());
}

TEST(Synchronizer, WaitsOfDifferentSynchronizersNestAndTheInnerEndsFirst) {
    test::InProcessServer server("NestSvc", {"Ctl1"});
    ASSERT_TRUE(server.isValid());
    server.setText("A", "outer");
    server.setText("B", "inner");
    TKIDdeMgr manager;
    TKIDdeClientConv conv;
    ASSERT_TRUE(conv.Connect("NestSvc", "Ctl1"));
    SyncReader outer(conv);
    SyncReader inner(conv);
    QByteArray innerValue;
    // A user command that runs inside the outer wait and waits itself.
    QTimer::singleShot(0, [&] { innerValue = inner.Read("B"); });
    EXPECT_EQ(outer.Read("A"), "outer");
    ASSERT_TRUE(test::waitFor([&] { return !innerValue.isEmpty(); }));
    EXPECT_EQ(innerValue, "inner");
    // A second synchronous read on the same synchronizer inside its wait is refused.
    bool refused = false;
    QTimer::singleShot(0, [&] {
        try {
            outer.Read("B");
        } catch (const SynchronizerException&) {
            refused = true;
        }
    });
    EXPECT_EQ(outer.Read("A"), "outer");
    ASSERT_TRUE(test::waitFor([&] { return refused; }));
}
