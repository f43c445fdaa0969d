// The network definition file: the shipped demo network, malformed files
// (each refused with the line at fault), the writer, value texts and the
// generator of large networks.

#include "NetworkFile.h"
#include "NetworkGenerator.h"

#include <gtest/gtest.h>

#include <QSet>

#include "TestEnvironment.h"

using namespace orvane::server;

namespace {

std::optional<NetworkDefinition> parse(const QByteArray& text, NetworkFileError* error = nullptr) {
    NetworkFileError ignored;
    return NetworkFile::parse(text, error ? error : &ignored);
}

QByteArray withControl(const QByteArray& body) {
    return "duxlane-network 1\ncontrol \"C1\"\n" + body + "\nend\n";
}

} // namespace

TEST(NetworkFile, DemoNetworkHoldsThreeLiveControlsOfEveryKind) {
    NetworkFileError error;
    const auto network =
        NetworkFile::load(orvane::test::sourceDir() + "/examples/demo.net", &error);
    ASSERT_TRUE(network) << error.toString().toStdString();
    ASSERT_EQ(network->controls.size(), 3u);
    size_t items = 0;
    QSet<int> kinds;
    QSet<int> classes;
    bool service = false, configure = false, category = false, bare = false, live = false;
    for (const ControlDefinition& c : network->controls) {
        items += c.items.size();
        for (const ItemDefinition& item : c.items) {
            kinds.insert(int(item.kind));
            classes.insert(int(item.itemClass));
            service |= item.name.startsWith("Service: ");
            configure |= item.name.startsWith("Configure: ");
            category |= item.name.count('.') >= 2 && !item.name.contains(':');
            bare |= !item.name.contains('.');
            live |= item.live.kind != LiveBehaviour::Kind::None;
        }
    }
    EXPECT_GE(items, 250u);
    EXPECT_EQ(kinds.size(), 6);
    EXPECT_EQ(classes.size(), 3);
    EXPECT_TRUE(service && configure && category && bare && live);
    // The three controls differ: one keeps no values and has no program memory.
    EXPECT_FALSE(network->controls[2].saveValuesSupported);
    EXPECT_TRUE(network->controls[2].programBlocks.empty());
    EXPECT_FALSE(network->controls[0].programBlocks.empty());
}

TEST(NetworkFile, ReadsItemsWithLimitsDefaultsAndEscapes) {
    const auto network = parse(withControl(
        "item \"Service: Speed.Gain\" tunable real min 0.5 max 100 decimals 1 value 12,25\n"
        "item \"Say \\\"hi\\\"\" tunable string maxlen 5 value \"ab\"  # comment\n"
        "item Flag configure boolean value True\n"
        "item \"Start\" tunable time value 6:5:3\n"
        "item Count monitor uint16\n"));
    ASSERT_TRUE(network);
    const auto& items = network->controls[0].items;
    ASSERT_EQ(items.size(), 5u);
    EXPECT_EQ(items[0].name, "Service: Speed.Gain");
    EXPECT_EQ(items[0].typeCode, kTypeCodeReal64);
    EXPECT_EQ(items[0].minText, "0.5");
    EXPECT_EQ(items[0].value, "12.3"); // one decimal, rounded half up from 12.25 or to even
    EXPECT_EQ(items[1].name, "Say \"hi\"");
    EXPECT_EQ(items[1].maxLength, 5);
    EXPECT_EQ(items[2].value, "1");
    EXPECT_EQ(items[3].value, "06:05:03.00");
    EXPECT_EQ(items[4].typeCode, 0x83);
    EXPECT_EQ(items[4].minText, "0");
    EXPECT_EQ(items[4].maxText, "65535");
}

TEST(NetworkFile, RefusesMalformedFilesWithTheLineAtFault) {
    struct Case {
        QByteArray text;
        int line;
        const char* fragment;
    };
    const Case cases[] = {
        {"", 0, "not a network definition file"},
        {"control \"A\"\nend\n", 1, "starts with"},
        {"duxlane-network 2\n", 1, "version 2"},
        {"duxlane-network 1\nbogus 1\n", 2, "not known outside"},
        {"duxlane-network 1\ncontrol \"A\"\n", 2, "has no 'end'"},
        {"duxlane-network 1\ncontrol \"A\"\nend\ncontrol \"a\"\nend\n", 4, "defined twice"},
        {"duxlane-network 1\ncontrol \"system\"\nend\n", 2, "server's own topic"},
        {withControl("item X sometimes real"), 3, "item class"},
        {withControl("item X monitor complex"), 3, "data type"},
        {withControl("item X monitor real\nitem x tunable real"), 4, "defined twice"},
        {withControl("item \"Run Mode\" monitor string"), 3, "answers itself"},
        {withControl("item \"Reset.result\" monitor string"), 3, "answers itself"},
        {withControl("item X tunable integer min 0 max 10 value 11"), 3, "outside the limits"},
        {withControl("item X tunable integer value 1.5"), 3, "not a integer"},
        {withControl("item X tunable real min 5 max 1"), 3, "above its maximum"},
        {withControl("item X tunable real live noise 1"), 3, "only monitor"},
        {withControl("item X monitor real live follow Nothing tau 1"), 3, "set point"},
        {withControl("item X monitor boolean live ramp 1"), 3, "does not suit"},
        {withControl("item \"X monitor real"), 3, "not closed"},
        {withControl("item X monitor string value \"a\"b"), 3, "followed by a blank"},
        {withControl("item \"A\tB\" monitor string"), 3, "printable"},
        {withControl("program-block 0x1001 16"), 3, "even address"},
        {withControl("program-block 0 16\nprogram-block 8 16"), 4, "overlaps"},
        {withControl("reset-time soon"), 3, "milliseconds"},
        {withControl("item X monitor string maxlen 2 value abc"), 3, "longer"},
        {QByteArray("duxlane-network 1\n\0", 19), 0, "zero byte"},
    };
    for (const Case& c : cases) {
        NetworkFileError error;
        EXPECT_FALSE(parse(c.text, &error)) << c.text.constData();
        EXPECT_EQ(error.line, c.line) << c.text.constData();
        EXPECT_TRUE(error.message.contains(QLatin1String(c.fragment)))
            << c.text.constData() << " -> " << error.message.toStdString();
    }
}

TEST(NetworkFile, UnreadableFileIsAnErrorOfTheWholeFile) {
    NetworkFileError error;
    EXPECT_FALSE(NetworkFile::load("/nonexistent/plant.net", &error));
    EXPECT_EQ(error.line, 0);
    EXPECT_TRUE(error.message.contains("/nonexistent/plant.net"));
}

TEST(NetworkFile, WrittenNetworkReadsBackTheSame) {
    NetworkFileError error;
    const auto demo = NetworkFile::load(orvane::test::sourceDir() + "/examples/demo.net", &error);
    ASSERT_TRUE(demo);
    const auto again = parse(NetworkFile::write(*demo), &error);
    ASSERT_TRUE(again) << error.toString().toStdString();
    ASSERT_EQ(again->controls.size(), demo->controls.size());
    for (size_t c = 0; c < demo->controls.size(); ++c) {
        const ControlDefinition& a = demo->controls[c];
        const ControlDefinition& b = again->controls[c];
        EXPECT_EQ(a.topic, b.topic);
        EXPECT_EQ(a.productId, b.productId);
        EXPECT_EQ(a.saveValuesSupported, b.saveValuesSupported);
        EXPECT_EQ(a.programBlocks.size(), b.programBlocks.size());
        ASSERT_EQ(a.items.size(), b.items.size());
        for (size_t i = 0; i < a.items.size(); ++i) {
            const ItemDefinition& x = a.items[i];
            const ItemDefinition& y = b.items[i];
            EXPECT_EQ(x.name, y.name);
            EXPECT_EQ(x.itemClass, y.itemClass);
            EXPECT_EQ(x.typeCode, y.typeCode);
            EXPECT_EQ(x.value, y.value) << x.name.toStdString();
            EXPECT_EQ(x.live.kind, y.live.kind) << x.name.toStdString();
            EXPECT_EQ(x.live.setPoint, y.live.setPoint);
            EXPECT_EQ(x.live.texts, y.live.texts);
        }
    }
}

TEST(NetworkFile, ValueTextsAreCheckedAndMadeCanonical) {
    ItemDefinition real;
    real.kind = ValueKind::Real;
    real.minText = "-10";
    real.maxText = "10";
    real.decimals = 2;
    ItemDefinition integer = real;
    integer.kind = ValueKind::Integer;
    ItemDefinition boolean = real;
    boolean.kind = ValueKind::Boolean;
    boolean.minText = "0";
    boolean.maxText = "1";
    ItemDefinition time = real;
    time.kind = ValueKind::Time;
    time.minText = "00:00:00.00";
    time.maxText = "23:59:59.99";
    ItemDefinition text;
    text.kind = ValueKind::String;
    text.maxLength = 4;
    struct Case {
        const ItemDefinition* item;
        QString in;
        values::Check check;
        QString out;
    };
    const Case cases[] = {
        {&real, "2,5", values::Check::Ok, "2.50"},
        {&real, " -3.25 ", values::Check::Ok, "-3.25"},
        {&real, "10.004", values::Check::Ok, "10.00"},
        {&real, "10.01", values::Check::OutOfRange, ""},
        {&real, "ten", values::Check::BadForm, ""},
        {&real, "nan", values::Check::BadForm, ""},
        {&integer, "7", values::Check::Ok, "7"},
        {&integer, "7.5", values::Check::BadForm, ""},
        {&integer, "-11", values::Check::OutOfRange, ""},
        {&boolean, "True", values::Check::Ok, "1"},
        {&boolean, "off", values::Check::Ok, "0"},
        {&boolean, "2", values::Check::BadForm, ""},
        {&time, "1:02:03.5", values::Check::Ok, "01:02:03.50"},
        {&time, "1:60:00", values::Check::BadForm, ""},
        {&time, "24:00:00", values::Check::OutOfRange, ""},
        {&text, "abcd", values::Check::Ok, "abcd"},
        {&text, "abcde", values::Check::TooLong, ""},
        {&text, "a\tb", values::Check::BadForm, ""},
        {&real, QString(5000, '1'), values::Check::TooLong, ""},
    };
    for (const Case& c : cases) {
        QString out;
        EXPECT_EQ(values::normalize(*c.item, c.in, &out), c.check) << c.in.left(20).toStdString();
        if (c.check == values::Check::Ok) {
            EXPECT_EQ(out, c.out) << c.in.toStdString();
        }
    }
}

TEST(NetworkFile, GeneratedLargeNetworkIsValidAndVaried) {
    GeneratorSettings settings;
    settings.items = 20000;
    const NetworkDefinition generated = generateNetwork(settings);
    NetworkFileError error;
    const auto network = parse(NetworkFile::write(generated), &error);
    ASSERT_TRUE(network) << error.toString().toStdString();
    ASSERT_EQ(network->controls.size(), 1u);
    const auto& items = network->controls[0].items;
    ASSERT_EQ(items.size(), 20000u);
    QSet<int> kinds;
    int live = 0;
    for (const ItemDefinition& item : items) {
        kinds.insert(int(item.kind));
        live += item.live.kind != LiveBehaviour::Kind::None;
    }
    EXPECT_EQ(kinds.size(), 6);
    EXPECT_EQ(live, 2000);
}
