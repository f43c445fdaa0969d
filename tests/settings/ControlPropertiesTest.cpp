// The properties window filled from controls of the simulated server: the
// seven rows, the states a control can be in, and the text it copies.

#include "settings/ControlPropertiesView.h"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>

#include "ControlFixture.h"
#include "model/KIDuxlaneControl.h"

using namespace orvane;
using orvane::test::ControlFixture;

namespace {

const QByteArray kNetwork = R"(duxlane-network 1
name "Properties test"

control "PLC1"
    protocol-id "DXP 2.1"
    system-id "DX-100 S/N 1"
    application-id "Test App 1.0"
    product-id "DX100-TEST"
    configuration-id "CFG-1"
    erase-time 600000
    program-block 4096 256
    item "Count" tunable int16 min -100 max 100 value 5
end
)";

class ControlPropertiesTest : public ControlFixture {
protected:
    void SetUp() override { StartServer(kNetwork); }
    TControlProperties m_window;
};

TEST_F(ControlPropertiesTest, ShowsTheIdentifiersOfARunningControl) {
    m_window.Fill(Connect("PLC1"));
    EXPECT_EQ(m_window.windowTitle(), QStringLiteral("PLC1 Properties"));
    const QStringList labels = {"System:",   "Application:",       "Configuration:", "Product:",
                                "Protocol:", "Operational State:", "Communications:"};
    const QStringList values = {"DX-100 S/N 1", "Test App 1.0", "CFG-1", "DX100-TEST",
                                "DXP 2.1",      "I/O Active",   "Ok"};
    for (int row = 0; row < TControlProperties::kRowCount; ++row) {
        EXPECT_EQ(m_window.LabelText(row), labels[row]);
        EXPECT_EQ(m_window.ValueText(row), values[row]);
    }
    EXPECT_EQ(m_window.size(), QSize(TControlProperties::kWidth, TControlProperties::kHeight));

    m_window.CopyToClipboard();
    EXPECT_EQ(
        QGuiApplication::clipboard()->text(),
        QStringLiteral("PLC1 Properties\r\nSystem:\tDX-100 S/N 1\r\nApplication:\tTest App "
                       "1.0\r\nConfiguration:\tCFG-1\r\nProduct:\tDX100-TEST\r\nProtocol:\t"
                       "DXP 2.1\r\nOperational State:\tI/O Active\r\nCommunications:\tOk\r\n"));
}

TEST_F(ControlPropertiesTest, ShowsALockedControlThatIsNotCommunicating) {
    TKIDuxlaneControl* plc = Connect("PLC1");
    // Erasing its program memory takes the control off line.
    plc->Shutdown();
    plc->BeginProgrammingMode(4096, 256);
    m_window.Fill(plc);
    EXPECT_EQ(m_window.ValueText(5), QStringLiteral("I/O Locked"));
    EXPECT_EQ(m_window.ValueText(6), QStringLiteral("Not Communicating"));
}

} // namespace
