// Items against a DDE server inside the test: reads, writes, the hot link and
// its states across the loss and return of the conversation, and the one-time
// attribute fetch.

#include "model/KIDuxlaneItem.h"
#include "model/KIItem.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include <QLocale>

#include "FakeDdeServer.h"
#include "ModelFixture.h"
#include "ddelink/DdeError.h"
#include "ddelink/KIDdeClientConv.h"
#include "ddelink/KIDdeMgr.h"
#include "ddelink/SyncRequest.h"
#include "ddelink/Synchronizer.h"

namespace orvane {
namespace {

using test::FakeDdeServer;
using test::WaitUntil;

const QString kTopic = QStringLiteral("PUMP1");
const QString kGain = QStringLiteral("SERVICE: SPEED.GAIN");

// Records every change notice it gets.
struct Recorder {
    void Changed(TKIItem* item) { values.append(item->Value().toString()); }
    QStringList values;
};

struct DdeErrors {
    void Failed(const QString& operation, const QString& topic, const QString& item) {
        reports.append(operation + QLatin1Char('|') + topic + QLatin1Char('|') + item);
    }
    QStringList reports;
};

class ItemTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_server.isValid());
        m_server.addTopic(kTopic);
        m_server.setText(kGain, "2.5");
        m_mgr.SetOnDdeError(TDdeErrorEvent(&m_errors, &DdeErrors::Failed));
        ASSERT_TRUE(m_conv.Connect(QStringLiteral("UPCIDuxlane"), kTopic));
    }
    const Synchronizer::TimingScope m_synchronizerTiming{{.timeoutMs = 20000}};
    TKIDdeMgr m_mgr;
    FakeDdeServer m_server{{QStringLiteral("UPCIDuxlane")}};
    DdeErrors m_errors;
    TKIDdeClientConv m_conv;
};

TEST_F(ItemTest, ReadWithoutHotLinkRequestsEachTime) {
    TKIItem item(kGain);
    item.Connect(&m_conv);
    EXPECT_EQ(item.Value(), QVariant(QStringLiteral("2.5")));
    EXPECT_TRUE(item.ValueReceived());
    m_server.setText(kGain, "3");
    EXPECT_EQ(item.Value().toString(), QStringLiteral("3"));
    EXPECT_EQ(m_server.requests(kGain, CF_TEXT), 2);
}

TEST_F(ItemTest, ReadBeforeConnectionIsRefusedAtOnce) {
    TKIItem item(kGain);
    try {
        item.Value();
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.message(), QStringLiteral("Control has not been connected."));
    }
    // The synchronizer was not left busy.
    item.Connect(&m_conv);
    EXPECT_EQ(item.Value().toString(), QStringLiteral("2.5"));
}

TEST_F(ItemTest, ReadErrorIsRaisedOnceAndReported) {
    m_server.failItem(kGain);
    TKIItem item(kGain);
    item.Connect(&m_conv);
    EXPECT_THROW(item.Value(), EDdeError);
    EXPECT_EQ(m_errors.reports, QStringList{QStringLiteral("Request|PUMP1|") + kGain});
    EXPECT_FALSE(item.ValueReceived());
}

TEST_F(ItemTest, SubscribersShareOneHotLink) {
    TKIItem item(kGain);
    item.Connect(&m_conv);
    Recorder first;
    Recorder second;
    item.Subscribe(TKIItemEvent(&first, &Recorder::Changed));
    EXPECT_TRUE(item.IsAdvised());
    ASSERT_TRUE(WaitUntil([&] { return first.values.size() == 1; }));
    EXPECT_EQ(first.values, QStringList{QStringLiteral("2.5")});

    // Subscribing after a value has arrived answers at once; twice is once.
    item.Subscribe(TKIItemEvent(&second, &Recorder::Changed));
    item.Subscribe(TKIItemEvent(&second, &Recorder::Changed));
    EXPECT_EQ(second.values, QStringList{QStringLiteral("2.5")});
    EXPECT_EQ(item.SubscriberCount(), 2);
    // Barrier: answers come in order, so every earlier start has been seen.
    m_server.setText(QStringLiteral("BARRIER"), "1");
    TSyncRequest().RequestText(&m_conv, QStringLiteral("BARRIER"));
    EXPECT_EQ(m_server.adviseStarts(kGain), 1);

    m_server.change(kTopic, kGain, "7");
    ASSERT_TRUE(WaitUntil([&] { return second.values.size() == 2; }));
    EXPECT_EQ(first.values, (QStringList{QStringLiteral("2.5"), QStringLiteral("7")}));
    // While advised, reads take the held value.
    EXPECT_EQ(item.Value().toString(), QStringLiteral("7"));
    EXPECT_EQ(m_server.requests(kGain, CF_TEXT), 0);

    item.Unsubscribe(TKIItemEvent(&first, &Recorder::Changed));
    EXPECT_TRUE(item.IsAdvised());
    item.Unsubscribe(TKIItemEvent(&second, &Recorder::Changed));
    EXPECT_FALSE(item.IsAdvised());
    EXPECT_FALSE(item.Value().isNull()); // a fresh request
    EXPECT_EQ(m_server.requests(kGain, CF_TEXT), 1);
    ASSERT_TRUE(WaitUntil([&] { return m_server.adviseStops(kGain) == 1; }));
}

TEST_F(ItemTest, LastUnsubscribeEmptiesTheValue) {
    TKIItem item(kGain);
    item.Connect(&m_conv);
    Recorder r;
    item.Subscribe(TKIItemEvent(&r, &Recorder::Changed));
    ASSERT_TRUE(WaitUntil([&] { return !r.values.isEmpty(); }));
    item.Unsubscribe(TKIItemEvent(&r, &Recorder::Changed));
    EXPECT_FALSE(item.ValueReceived());

    // A new link has no value until its own first one arrives: a window that
    // paints meanwhile must not take the emptied one for it, nor wait for one.
    m_server.setText(kGain, "9");
    item.Subscribe(TKIItemEvent(&r, &Recorder::Changed));
    EXPECT_TRUE(item.IsAdvised());
    EXPECT_FALSE(item.ValueReceived());
    EXPECT_FALSE(item.HeldValue().isValid());
    ASSERT_TRUE(WaitUntil([&] { return r.values.size() == 2; }));
    EXPECT_TRUE(item.ValueReceived());
    EXPECT_EQ(item.HeldValue().toString(), QStringLiteral("9"));
    item.Unsubscribe(TKIItemEvent(&r, &Recorder::Changed));

    m_server.setText(kGain, "11");
    EXPECT_EQ(item.Value().toString(), QStringLiteral("11")); // a fresh request
}

TEST_F(ItemTest, HotLinkWaitsForTheConversationAndSurvivesItsLoss) {
    TKIItem item(kGain);
    Recorder r;
    item.Subscribe(TKIItemEvent(&r, &Recorder::Changed));
    EXPECT_FALSE(item.IsAdvised());
    EXPECT_TRUE(item.IsAdvisePending());
    EXPECT_EQ(m_server.adviseStarts(kGain), 0);

    item.Connect(&m_conv);
    EXPECT_TRUE(item.IsAdvised());
    EXPECT_FALSE(item.IsAdvisePending());
    ASSERT_TRUE(WaitUntil([&] { return r.values.size() == 1; }));

    item.Disconnect();
    EXPECT_FALSE(item.IsAdvised());
    EXPECT_TRUE(item.IsAdvisePending());
    ASSERT_TRUE(WaitUntil([&] { return m_server.adviseStops(kGain) == 1; }));

    // The control comes back on a new conversation: the link restarts there,
    // under the key that conversation gave, and values flow again.
    TKIDdeClientConv again;
    ASSERT_TRUE(again.Connect(QStringLiteral("UPCIDuxlane"), kTopic));
    item.Connect(&again);
    EXPECT_TRUE(item.IsAdvised());
    EXPECT_EQ(again.AdviseCount(), 1);
    EXPECT_NE(item.AdviseKey(), kNoAdviseKey);
    ASSERT_TRUE(WaitUntil([&] { return m_server.adviseStarts(kGain) == 2; }));
    m_server.change(kTopic, kGain, "11");
    ASSERT_TRUE(WaitUntil([&] { return r.values.contains(QStringLiteral("11")); }));
    EXPECT_EQ(item.SubscriberCount(), 1);
    item.Unsubscribe(TKIItemEvent(&r, &Recorder::Changed));
}

TEST_F(ItemTest, ManyLinksStartedTogetherEachGetTheirFirstValueOnce) {
    // Two items go before their first values come.
    constexpr int kCount = 53;
    Recorder r;
    std::vector<std::unique_ptr<TKIItem>> items;
    for (int i = 0; i < kCount; ++i) {
        const QString name = QStringLiteral("ITEM %1").arg(i);
        m_server.setText(name, QByteArray::number(i));
        items.push_back(std::make_unique<TKIItem>(name));
        items.back()->Connect(&m_conv);
        items.back()->Subscribe(TKIItemEvent(&r, &Recorder::Changed));
    }
    items.front().reset();
    items.back().reset();
    ASSERT_TRUE(WaitUntil([&] { return r.values.size() == kCount - 2; }));
    // Barrier: a first value for a freed item would have come before this.
    TSyncRequest().RequestText(&m_conv, QStringLiteral("ITEM 1"));
    EXPECT_EQ(r.values.size(), kCount - 2);
    EXPECT_TRUE(r.values.contains(QStringLiteral("1")));
    EXPECT_FALSE(r.values.contains(QStringLiteral("0")));
    for (auto& item : items) {
        if (item) {
            item->Unsubscribe(TKIItemEvent(&r, &Recorder::Changed));
        }
    }
}

TEST_F(ItemTest, SubscriberThatFreesTheItemEndsTheRoundAndNothingTouchesTheItemAgain) {
    struct Freer {
        std::unique_ptr<TKIItem>* item;
        int calls = 0;
        void Changed(TKIItem*) {
            ++calls;
            item->reset();
        }
    };
    auto item = std::make_unique<TKIItem>(kGain);
    item->Connect(&m_conv);
    Freer freer{&item};
    Recorder later; // reads the item's value: a call after the free would be a use after free
    item->Subscribe(TKIItemEvent(&freer, &Freer::Changed));
    item->Subscribe(TKIItemEvent(&later, &Recorder::Changed));
    ASSERT_TRUE(WaitUntil([&] { return item == nullptr; }));
    // A change after the free, then a barrier: the reply to a request on the
    // same conversation comes after any push of that change.
    m_server.change(kTopic, kGain, "3.5");
    EXPECT_EQ(TSyncRequest().RequestText(&m_conv, kGain), QStringLiteral("3.5"));
    EXPECT_EQ(freer.calls, 1);
    EXPECT_TRUE(later.values.isEmpty());
}

TEST_F(ItemTest, WritesPokeTheTextAndRefuseOverlongValues) {
    TKIItem item(kGain);
    item.Connect(&m_conv);
    {
        // Restored however the write ends.
        struct GermanLocale {
            QLocale saved;
            GermanLocale() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }
            ~GermanLocale() { QLocale::setDefault(saved); }
        } german;
        item.SetValue(2.5);
    }
    item.SetValue(QStringLiteral("abc"));
    item.SetValue(QString(kPokeBufferChars, QLatin1Char('x')));
    try {
        item.SetValue(QString(kPokeBufferChars + 1, QLatin1Char('x')));
        FAIL() << "an overlong value was accepted";
    } catch (const TKIItemException& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("101"))) << e.what();
    }
    EXPECT_THROW(item.SetValueAndWait(QString(500, QLatin1Char('y'))), TKIItemException);
    item.SetValueAndWait(QStringLiteral("4"));
    ASSERT_TRUE(WaitUntil([&] { return m_server.pokes(kGain).size() == 4; }));
    const QList<QByteArray> pokes = m_server.pokes(kGain);
    EXPECT_EQ(pokes[0], QByteArray("2,5"));
    EXPECT_EQ(pokes[1], QByteArray("abc"));
    EXPECT_EQ(pokes[2], QByteArray(kPokeBufferChars, 'x'));
    EXPECT_EQ(pokes[3], QByteArray("4"));
    // The held value waits for the server's word.
    EXPECT_FALSE(item.ValueReceived());
}

TEST_F(ItemTest, AttributesOfTheExampleReply) {
    m_server.setRaw(kGain, QByteArray("\x02\x21"
                                      "0.5\0"
                                      "100\0",
                                      10));
    TKIDuxlaneItem item(kGain);
    item.Connect(&m_conv);
    EXPECT_EQ(item.ItemClassType(), vctTunable);
    EXPECT_EQ(item.DataType(), vdtReal);
    EXPECT_EQ(item.MinValue(), QVariant(QStringLiteral("0.5")));
    EXPECT_EQ(item.MaxValue(), QVariant(QStringLiteral("100")));
    EXPECT_EQ(m_server.requests(kGain, CF_PRIVATEFIRST), 1);
}

TEST_F(ItemTest, AttributeErrorGivesDefaultsAndIsNeverAskedAgain) {
    m_server.failItem(kGain);
    TKIDuxlaneItem item(kGain);
    item.Connect(&m_conv);
    EXPECT_EQ(item.ItemClassType(), vctMonitor);
    EXPECT_EQ(item.DataType(), vdtString);
    EXPECT_EQ(item.MinValue(), QVariant(0));
    EXPECT_EQ(item.MaxValue(), QVariant(0));
    EXPECT_EQ(item.ItemClassType(), vctMonitor);
    EXPECT_EQ(m_server.requests(kGain, CF_PRIVATEFIRST), 1);
}

TEST_F(ItemTest, MalformedAttributeReplyGivesDefaults) {
    m_server.setRaw(kGain, QByteArray("\x03", 1));
    TKIDuxlaneItem item(kGain);
    item.Connect(&m_conv);
    EXPECT_EQ(item.ItemClassType(), vctMonitor);
    EXPECT_EQ(item.DataType(), vdtString);
    EXPECT_EQ(item.MaxValue(), QVariant(0));
}

TEST_F(ItemTest, AttributeReplyWithoutZerosIsNeverReadPastItsEnd) {
    // Long enough that the link copies it to the heap, where reading one byte
    // beyond the copy is caught.
    QByteArray reply("\x02\x21", 2);
    reply.append(QByteArray(400, '7'));
    m_server.setRaw(kGain, reply);
    TKIDuxlaneItem item(kGain);
    item.Connect(&m_conv);
    EXPECT_EQ(item.ItemClassType(), vctTunable);
    EXPECT_EQ(item.DataType(), vdtReal);
    EXPECT_EQ(item.MinValue(), QVariant(QString(400, '7')));
    EXPECT_EQ(item.MaxValue(), QVariant(QString()));
}

TEST_F(ItemTest, EmptyAttributeReplyIsAnError) {
    m_server.setRaw(kGain, QByteArray());
    TKIDuxlaneItem item(kGain);
    item.Connect(&m_conv);
    try {
        item.DataType();
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.message(), QStringLiteral("Reply was empty ") + kGain);
    }
}

TEST_F(ItemTest, AttributeListenersRunOnceOnTheNextConnection) {
    m_server.setRaw(kGain, QByteArray("\x03\x04"
                                      "0\0"
                                      "9\0",
                                      6));
    TKIDuxlaneItem item(kGain);
    // Not connected: the attributes cannot be fetched yet, and the one fetch
    // is not spent on it.
    EXPECT_THROW(item.ItemClassType(), Exception);
    EXPECT_FALSE(item.AttributesFetched());
    struct Listener {
        void Ready(TKIItem* item) {
            ++calls;
            classType = static_cast<TKIDuxlaneItem*>(item)->ItemClassType();
        }
        int calls = 0;
        ItemClassType classType = vctUnassigned;
    } listener;
    item.OnAttributesReady(TKIItemEvent(&listener, &Listener::Ready));
    item.Connect(&m_conv);
    item.Connect(&m_conv);
    EXPECT_EQ(listener.calls, 1);
    EXPECT_EQ(listener.classType, vctConfigure);
    EXPECT_EQ(item.DataType(), vdtInteger);
}

} // namespace
} // namespace orvane
