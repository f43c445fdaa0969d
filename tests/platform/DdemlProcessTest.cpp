// The DDE library between two processes: a client here, a server in the
// ddeml_peer helper program.

#include "DdemlFixture.h"

#include <QProcess>

namespace orvane::test {
namespace {

constexpr const char* kPeerService = "PeerService";
constexpr int kPeerStartMs = 10000;

class DdemlProcess : public DdemlFixture {
protected:
    void SetUp() override {
        DdemlFixture::SetUp();
        peer.setProgram(QString::fromUtf8(DDEML_PEER_EXE));
        peer.setArguments({QString::fromLatin1(kPeerService)});
        peer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        peer.start();
        ASSERT_TRUE(peer.waitForStarted(kPeerStartMs));
        ASSERT_TRUE(peer.waitForReadyRead(kPeerStartMs));
        ASSERT_EQ(peer.readLine().trimmed(), "ready");
    }
    void TearDown() override {
        if (peer.state() != QProcess::NotRunning) {
            peer.kill();
            peer.waitForFinished(kPeerStartMs);
        }
        DdemlFixture::TearDown();
    }
    HCONV connectPeer() {
        return DdeConnect(client, clientHsz(kPeerService), clientHsz("Line1"), nullptr);
    }

    QProcess peer;
};

TEST_F(DdemlProcess, RequestPokeAndAdviseAcrossProcesses) {
    const HCONV conv = connectPeer();
    ASSERT_NE(conv, 0u);
    startAsync(conv, XTYP_REQUEST, "Pid");
    ASSERT_TRUE(waitFor([&] { return !clientEvents(XTYP_XACT_COMPLETE).empty(); }));
    EXPECT_EQ(clientEvents(XTYP_XACT_COMPLETE)[0].data,
              text(std::to_string(peer.processId()).c_str()));

    startAsync(conv, XTYP_ADVSTART | XTYPF_ACKREQ, "Valve");
    ASSERT_TRUE(waitFor([&] { return clientEvents(XTYP_XACT_COMPLETE).size() == 2; }));
    // Pokes come back as advise data; the last one always arrives.
    for (int i = 1; i <= 20; ++i) {
        startAsync(conv, XTYP_POKE, "Valve", CF_TEXT, text(std::to_string(i).c_str()));
    }
    ASSERT_TRUE(waitFor([&] {
        const auto data = clientEvents(XTYP_ADVDATA);
        return !data.empty() && data.back().data == text("20");
    }));
    ASSERT_TRUE(waitFor([&] { return clientEvents(XTYP_XACT_COMPLETE).size() == 22; }));
    for (const auto& done : clientEvents(XTYP_XACT_COMPLETE)) {
        EXPECT_EQ(done.lastError, DMLERR_NO_ERROR);
    }
    // The values arrive in order, possibly with some coalesced away.
    int previous = 0;
    for (const auto& data : clientEvents(XTYP_ADVDATA)) {
        const int value = std::stoi(data.data);
        EXPECT_GT(value, previous);
        previous = value;
    }

    startAsync(conv, XTYP_EXECUTE, nullptr, CF_TEXT, text("Quit"));
    ASSERT_TRUE(waitFor([&] { return !clientEvents(XTYP_DISCONNECT).empty(); }));
    EXPECT_TRUE(waitFor([&] { return peer.state() == QProcess::NotRunning; }, kPeerStartMs));
    EXPECT_EQ(peer.exitCode(), 0);
}

TEST_F(DdemlProcess, ServerDyingMidTransactionFailsItAndDisconnects) {
    const HCONV conv = connectPeer();
    ASSERT_NE(conv, 0u);
    const HCONV second = connectPeer();
    ASSERT_NE(second, 0u);
    const DWORD dying = startAsync(conv, XTYP_EXECUTE, nullptr, CF_TEXT, text("Die"));
    ASSERT_TRUE(waitFor([&] { return clientEvents(XTYP_DISCONNECT).size() == 2; }));
    EXPECT_TRUE(waitFor([&] { return peer.state() == QProcess::NotRunning; }, kPeerStartMs));
    // The dying transaction failed before its conversation's disconnect.
    ASSERT_EQ(clientLog.size(), 3u);
    std::size_t failed = 3, ended = 3;
    for (std::size_t i = 0; i < clientLog.size(); ++i) {
        if (clientLog[i].type == XTYP_XACT_COMPLETE) {
            failed = i;
        } else if (clientLog[i].conv == conv) {
            ended = i;
        }
    }
    ASSERT_LT(failed, 3u);
    EXPECT_LT(failed, ended);
    EXPECT_EQ(clientLog[failed].data1, dying);
    EXPECT_EQ(clientLog[failed].conv, conv);
    EXPECT_EQ(clientLog[failed].lastError, DMLERR_SERVER_DIED);
    EXPECT_EQ(clientLog[failed].info.wType, XTYP_EXECUTE);
    // Its socket stays behind, stale: connecting fails at once instead of hanging.
    EXPECT_EQ(connectPeer(), 0u);
    EXPECT_EQ(DdeGetLastError(client), DMLERR_NO_CONV_ESTABLISHED);
}

} // namespace
} // namespace orvane::test
