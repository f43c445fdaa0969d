// A device against a DDE server inside the test: item claims, handing the
// conversation to items, and the cached name lists.

#include "model/KIDevice.h"

#include <gtest/gtest.h>

#include "FakeDdeServer.h"
#include "ModelFixture.h"
#include "ddelink/DdeError.h"
#include "ddelink/KIDdeClientConv.h"
#include "ddelink/KIDdeMgr.h"
#include "ddelink/Synchronizer.h"
#include "model/KIItem.h"

namespace orvane {
namespace {

using test::FakeDdeServer;
using test::WaitUntil;

const QString kTopic = QStringLiteral("PUMP1");

struct Listener {
    void Connected(TKIDevice* device) { devices.push_back(device); }
    std::vector<TKIDevice*> devices;
};

struct Recorder {
    void Changed(TKIItem* item) { values.append(item->Value().toString()); }
    QStringList values;
};

class DeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_server.isValid());
        m_server.addTopic(kTopic);
        m_mgr.SetOnDdeError(TDdeErrorEvent(this, &DeviceTest::Failed));
        ASSERT_TRUE(m_conv.Connect(QStringLiteral("UPCIDuxlane"), kTopic));
    }
    void Failed(const QString&, const QString&, const QString&) {}

    const Synchronizer::TimingScope m_synchronizerTiming{{.timeoutMs = 20000}};
    const TKIDevice::TimingScope m_deviceTiming{{.disconnectItemsSleepMs = 10}};
    TKIDdeMgr m_mgr;
    FakeDdeServer m_server{{QStringLiteral("UPCIDuxlane")}};
    TKIDdeClientConv m_conv;
};

TEST_F(DeviceTest, NamesAreUpperCasedAndClaimsCounted) {
    TKIDevice device;
    TKIItem* lower = device.AcquireItem(QStringLiteral("Service: speed.gain"));
    TKIItem* upper = device.AcquireItem(QStringLiteral("SERVICE: SPEED.GAIN"));
    EXPECT_EQ(lower, upper);
    EXPECT_EQ(upper->Name(), QStringLiteral("SERVICE: SPEED.GAIN"));
    EXPECT_EQ(device.ItemCount(), 1);
    EXPECT_EQ(device.ItemRefCount(upper->Name()), 2);
    // Only a-z are upper-cased.
    EXPECT_EQ(TKIDevice::UpperCaseName(QString::fromUtf8("caf\xC3\xA9 x")),
              QString::fromUtf8("CAF\xC3\xA9 X"));

    device.ReleaseItem(QStringLiteral("Service: speed.gain")); // not the item's name
    EXPECT_EQ(device.ItemRefCount(upper->Name()), 2);
    device.ReleaseItem(upper->Name());
    EXPECT_EQ(device.ItemCount(), 1);
    device.ReleaseItem(upper->Name());
    EXPECT_EQ(device.ItemCount(), 0);
    EXPECT_EQ(device.ItemRefCount(QStringLiteral("SERVICE: SPEED.GAIN")), 0);
}

TEST_F(DeviceTest, ItemsGetTheConversationWhenItArrives) {
    m_server.setText(QStringLiteral("A"), "1");
    TKIDevice device;
    Listener listener;
    device.SetOnConnect(TKIDeviceEvent(&listener, &Listener::Connected));
    EXPECT_TRUE(listener.devices.empty());

    TKIItem* early = device.AcquireItem(QStringLiteral("a"));
    Recorder r;
    early->Subscribe(TKIItemEvent(&r, &Recorder::Changed));
    EXPECT_FALSE(early->IsConnected());

    device.Connected(nullptr); // a topic that could not be had
    EXPECT_FALSE(device.Active());

    device.Connected(&m_conv);
    EXPECT_TRUE(device.Active());
    EXPECT_TRUE(early->IsConnected());
    EXPECT_TRUE(early->IsAdvised());
    ASSERT_EQ(listener.devices.size(), 1u);
    EXPECT_EQ(listener.devices[0], &device);
    ASSERT_TRUE(WaitUntil([&] { return r.values == QStringList{QStringLiteral("1")}; }));

    TKIItem* late = device.AcquireItem(QStringLiteral("b"));
    EXPECT_TRUE(late->IsConnected());
    EXPECT_EQ(late->Conversation(), &m_conv);

    // A listener set on a connected device hears of it at once.
    Listener second;
    device.SetOnConnect(TKIDeviceEvent(&second, &Listener::Connected));
    EXPECT_EQ(second.devices.size(), 1u);

    // Reset: links stop and come back with the conversation.
    device.DisconnectItems();
    EXPECT_TRUE(early->IsAdvisePending());
    device.Connected(&m_conv);
    EXPECT_TRUE(early->IsAdvised());
    ASSERT_TRUE(WaitUntil([&] { return m_server.adviseStarts(QStringLiteral("A")) == 2; }));
    early->Unsubscribe(TKIItemEvent(&r, &Recorder::Changed));
}

TEST_F(DeviceTest, NameListsAreSplitSortedAndCached) {
    m_server.setText(QStringLiteral("TopicItemList"), "zeta\tX\t\tY\talpha\t");
    m_server.setText(QStringLiteral("MutableItemList"), "b\tA");
    TKIDevice device;
    EXPECT_THROW(device.GetTopicItemList(), Exception);
    device.SetIdentifier(kTopic);
    try {
        device.GetTopicItemList();
        FAIL() << "read without conversation";
    } catch (const Exception& e) {
        EXPECT_EQ(e.message(), QStringLiteral("Control has not been connected."));
    }
    device.Connected(&m_conv);

    const QStringList expected{QString(), QStringLiteral("alpha"), QStringLiteral("X"),
                               QStringLiteral("Y"), QStringLiteral("zeta")};
    EXPECT_EQ(device.GetTopicItemList(), expected);
    EXPECT_EQ(device.GetTopicItemList(), expected);
    EXPECT_EQ(m_server.requests(QStringLiteral("TopicItemList"), CF_TEXT), 1);
    EXPECT_EQ(device.GetMutableItemList(), (QStringList{QStringLiteral("A"), QStringLiteral("b")}));

    // A new Connect reads the topic list again; the mutable list stays cached.
    device.Connect();
    device.GetTopicItemList();
    device.GetMutableItemList();
    EXPECT_EQ(m_server.requests(QStringLiteral("TopicItemList"), CF_TEXT), 2);
    EXPECT_EQ(m_server.requests(QStringLiteral("MutableItemList"), CF_TEXT), 1);
}

TEST_F(DeviceTest, EmptyListAndFailedListRead) {
    m_server.setText(QStringLiteral("TopicItemList"), "");
    TKIDevice device;
    device.SetIdentifier(kTopic);
    device.Connected(&m_conv);
    EXPECT_TRUE(device.GetTopicItemList().isEmpty());

    // No such item at the server: the error reaches the reader and the next
    // read asks again.
    EXPECT_THROW(device.GetMutableItemList(), EDdeError);
    EXPECT_THROW(device.GetMutableItemList(), EDdeError);
    EXPECT_EQ(m_server.requests(QStringLiteral("MutableItemList"), CF_TEXT), 2);
}

} // namespace
} // namespace orvane
