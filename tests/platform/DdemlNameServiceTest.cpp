// Registration notices to the instances of a thread, a second registration of
// a name, and connecting to any topic a server offers.

#include "DdemlFixture.h"

namespace orvane::test {
namespace {

class DdemlNameService : public DdemlFixture {
protected:
    HDDEDATA topicPairs(std::vector<HSZPAIR> pairs) {
        pairs.push_back(HSZPAIR{});
        return DdeCreateDataHandle(server, reinterpret_cast<const BYTE*>(pairs.data()),
                                   DWORD(pairs.size() * sizeof(HSZPAIR)), 0, 0, 0, 0);
    }
    HCONV connectAnyTopic() {
        const HSZ service = clientHsz(kService);
        const HCONV conv = DdeConnect(client, service, 0, nullptr);
        DdeFreeStringHandle(client, service);
        return conv;
    }
};

TEST_F(DdemlNameService, RegistrationIsAnnouncedToEveryInstanceOfTheThreadUnlessSkipped) {
    DWORD quiet = 0;
    ASSERT_EQ(DdeInitialize(
                  &quiet,
                  [](UINT type, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) {
                      // Asked to skip both kinds of notice: any call is one too many.
                      EXPECT_NE(type, XTYP_REGISTER);
                      EXPECT_NE(type, XTYP_UNREGISTER);
                      return HDDEDATA(0);
                  },
                  APPCMD_CLIENTONLY | CBF_SKIP_REGISTRATIONS | CBF_SKIP_UNREGISTRATIONS, 0),
              DMLERR_NO_ERROR);
    const HSZ name = serverHsz("Boiler.Room");
    ASSERT_NE(DdeNameService(server, name, 0, DNS_REGISTER), 0u);
    for (const auto& log : {clientEvents(XTYP_REGISTER), serverEvents(XTYP_REGISTER)}) {
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(log[0].topic, "Boiler.Room");
        EXPECT_EQ(log[0].item.rfind("Boiler.Room(0x", 0), 0u) << log[0].item;
    }
    // The notice's handles were the library's: one free of a new handle ends it.
    const HSZ again = clientHsz("Boiler.Room");
    EXPECT_TRUE(DdeFreeStringHandle(client, again));
    EXPECT_EQ(DdeQueryString(client, again, nullptr, 0, CP_WINANSI), 0u);

    ASSERT_NE(DdeNameService(server, name, 0, DNS_UNREGISTER), 0u);
    ASSERT_EQ(clientEvents(XTYP_UNREGISTER).size(), 1u);
    EXPECT_EQ(clientEvents(XTYP_UNREGISTER)[0].topic, "Boiler.Room");
    DdeUninitialize(quiet);
}

TEST_F(DdemlNameService, SecondRegistrationOfANameFailsAndTheFirstStands) {
    EXPECT_EQ(DdeNameService(server, serverHsz("DUXTEST"), 0, DNS_REGISTER), 0u);
    EXPECT_EQ(DdeGetLastError(server), DMLERR_DLL_USAGE);
    EXPECT_NE(connect(), 0u);
}

TEST_F(DdemlNameService, ConnectToAnyTopicTakesTheFirstTopicThatFitsTheService) {
    onWildConnect = [&](HSZ service) {
        EXPECT_EQ(queryString(server, service), kService);
        // A pair for another service comes first and is passed over.
        return topicPairs({{serverHsz("Other"), serverHsz("Wrong")},
                           {service, serverHsz("Boiler")},
                           {service, serverHsz("Turbine")}});
    };
    values["Temp"] = text("81");
    const HCONV conv = connectAnyTopic();
    ASSERT_NE(conv, 0u);
    EXPECT_TRUE(serverEvents(XTYP_CONNECT).empty());
    ASSERT_EQ(serverEvents(XTYP_CONNECT_CONFIRM).size(), 1u);
    EXPECT_EQ(serverEvents(XTYP_CONNECT_CONFIRM)[0].topic, "Boiler");
    CONVINFO info;
    info.cb = sizeof(info);
    ASSERT_NE(DdeQueryConvInfo(conv, QID_SYNC, &info), 0u);
    EXPECT_EQ(queryString(client, info.hszTopic), "Boiler");
    DWORD result = 0;
    const HDDEDATA data = DdeClientTransaction(nullptr, 0, conv, clientHsz("Temp"), CF_TEXT,
                                               XTYP_REQUEST, 2000, &result);
    ASSERT_NE(data, 0u);
    EXPECT_EQ(dataBytes(data), text("81"));
    DdeFreeDataHandle(data);
    EXPECT_EQ(serverEvents(XTYP_REQUEST).back().topic, "Boiler");
}

TEST_F(DdemlNameService, ConnectToAnyTopicFailsWhenTheServerOffersNoneOrGarbage) {
    EXPECT_EQ(connectAnyTopic(), 0u); // no answer at all
    EXPECT_EQ(DdeGetLastError(client), DMLERR_NO_CONV_ESTABLISHED);
    ASSERT_EQ(serverEvents(XTYP_WILDCONNECT).size(), 1u);

    // Handles the server does not know, and a block too short for one pair.
    onWildConnect = [&](HSZ) { return topicPairs({{0, HSZ(0x7FFFFFF0)}}); };
    EXPECT_EQ(connectAnyTopic(), 0u);
    onWildConnect = [&](HSZ) {
        const BYTE shortBlock[3] = {1, 2, 3};
        return DdeCreateDataHandle(server, shortBlock, sizeof(shortBlock), 0, 0, 0, 0);
    };
    EXPECT_EQ(connectAnyTopic(), 0u);
    EXPECT_TRUE(serverEvents(XTYP_CONNECT_CONFIRM).empty());
    // The server's data handles went to the library and were freed there.
    EXPECT_NE(connect(), 0u);
}

} // namespace
} // namespace orvane::test
