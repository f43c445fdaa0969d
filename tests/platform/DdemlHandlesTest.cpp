// String and data handles of the DDE library, and the per-instance error code.

#include "DdemlFixture.h"

namespace orvane::test {
namespace {

HDDEDATA noCallback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) {
    return 0;
}

class DdemlHandles : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(DdeInitialize(&inst, &noCallback, APPCMD_CLIENTONLY, 0), DMLERR_NO_ERROR);
        ASSERT_EQ(DdeInitialize(&other, &noCallback, APPCMD_CLIENTONLY, 0), DMLERR_NO_ERROR);
    }
    void TearDown() override {
        DdeUninitialize(inst);
        DdeUninitialize(other);
    }
    DWORD inst = 0;
    DWORD other = 0;
};

TEST_F(DdemlHandles, StringHandlesIgnoreLetterCaseAndCountReferences) {
    const HSZ first = DdeCreateStringHandle(inst, "Motor.Speed", CP_WINANSI);
    const HSZ second = DdeCreateStringHandle(inst, "MOTOR.speed", CP_WINANSI);
    const HSZ different = DdeCreateStringHandle(inst, "Motor.Torque", CP_WINANSI);
    ASSERT_NE(first, 0u);
    EXPECT_EQ(first, second);
    EXPECT_NE(first, different);
    EXPECT_EQ(DdeCmpStringHandles(first, second), 0);
    EXPECT_EQ(DdeCmpStringHandles(first, different), -1);
    EXPECT_EQ(DdeCmpStringHandles(different, first), 1);
    EXPECT_EQ(queryString(inst, second), "Motor.Speed"); // the first spelling is kept

    // Accented letters of the code page fold too.
    EXPECT_EQ(DdeCreateStringHandle(inst, "\xE9t\xE9", CP_WINANSI),
              DdeCreateStringHandle(inst, "\xC9T\xC9", CP_WINANSI));

    // Two creations: the handle lives until the second free.
    EXPECT_TRUE(DdeFreeStringHandle(inst, first));
    EXPECT_EQ(queryString(inst, first), "Motor.Speed");
    EXPECT_TRUE(DdeKeepStringHandle(inst, first));
    EXPECT_TRUE(DdeFreeStringHandle(inst, first));
    EXPECT_TRUE(DdeFreeStringHandle(inst, first));
    EXPECT_EQ(DdeQueryString(inst, first, nullptr, 0, CP_WINANSI), 0u);
    EXPECT_FALSE(DdeFreeStringHandle(inst, first));

    // Handles belong to their instance.
    EXPECT_FALSE(DdeFreeStringHandle(other, different));
    EXPECT_EQ(DdeQueryString(other, different, nullptr, 0, CP_WINANSI), 0u);
    const HSZ otherHandle = DdeCreateStringHandle(other, "motor.torque", CP_WINANSI);
    EXPECT_NE(otherHandle, different);
    EXPECT_EQ(DdeCmpStringHandles(otherHandle, different), 0);
}

TEST_F(DdemlHandles, QueryStringCutsToTheBufferAndTellsTheLength) {
    const HSZ hsz = DdeCreateStringHandle(inst, "Conversation Count", CP_WINANSI);
    EXPECT_EQ(DdeQueryString(inst, hsz, nullptr, 0, CP_WINANSI), 18u);
    char buffer[8];
    std::memset(buffer, 'x', sizeof(buffer));
    EXPECT_EQ(DdeQueryString(inst, hsz, buffer, sizeof(buffer), CP_WINANSI), 7u);
    EXPECT_STREQ(buffer, "Convers");
    EXPECT_EQ(DdeCreateStringHandle(inst, std::string(256, 'a').c_str(), CP_WINANSI), 0u);
    EXPECT_EQ(DdeGetLastError(inst), DMLERR_INVALIDPARAMETER);
    EXPECT_EQ(DdeGetLastError(inst), DMLERR_NO_ERROR);
}

TEST_F(DdemlHandles, DataHandlesHoldExactBytesAndRefuseUnknownHandles) {
    const BYTE source[] = {'x', 'y', 1, 0, 2, 0};
    const HDDEDATA data = DdeCreateDataHandle(inst, source, 4, 2, 0, CF_PRIVATEFIRST, 0);
    ASSERT_NE(data, 0u);
    DWORD size = 0;
    const BYTE* bytes = DdeAccessData(data, &size);
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes), size), std::string("\1\0\2\0", 4));
    EXPECT_TRUE(DdeUnaccessData(data));

    const BYTE more[] = {7, 8};
    EXPECT_EQ(DdeAddData(data, more, 2, 5), data);
    BYTE out[16] = {};
    EXPECT_EQ(DdeGetData(data, nullptr, 0, 0), 7u);
    EXPECT_EQ(DdeGetData(data, out, sizeof(out), 3), 4u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out), 4), std::string("\0\0\7\x08", 4));
    EXPECT_EQ(DdeGetData(data, out, 2, 0), 2u);

    EXPECT_TRUE(DdeFreeDataHandle(data));
    // Freed, invented and special values are all refused without harm.
    for (const HDDEDATA bad : {data, HDDEDATA(0), HDDEDATA(TRUE), HDDEDATA(DDE_FACK),
                               HDDEDATA(0x4000'0000'0000'0000ull), ~HDDEDATA(0)}) {
        EXPECT_EQ(DdeAccessData(bad, &size), nullptr);
        EXPECT_FALSE(DdeFreeDataHandle(bad));
        EXPECT_EQ(DdeGetData(bad, out, sizeof(out), 0), 0u);
        EXPECT_EQ(DdeAddData(bad, more, 2, 0), 0u);
    }
    // A new handle may reuse the storage but never the value.
    const HDDEDATA next = DdeCreateDataHandle(inst, source, 1, 0, 0, CF_TEXT, 0);
    EXPECT_NE(next, data);
    EXPECT_FALSE(DdeFreeDataHandle(data));
    EXPECT_TRUE(DdeFreeDataHandle(next));
}

TEST_F(DdemlHandles, InstancesAreIndependentAndEndCleanly) {
    EXPECT_NE(inst, other);
    EXPECT_EQ(DdeGetLastError(0xDEAD), DMLERR_INVALIDPARAMETER);
    DWORD unused = 0;
    EXPECT_EQ(DdeInitialize(&unused, nullptr, 0, 0), DMLERR_INVALIDPARAMETER);
    // A client-only instance cannot offer a service.
    const HSZ name = DdeCreateStringHandle(inst, "Svc", CP_WINANSI);
    EXPECT_EQ(DdeNameService(inst, name, 0, DNS_REGISTER), 0u);
    EXPECT_EQ(DdeGetLastError(inst), DMLERR_DLL_USAGE);
    EXPECT_EQ(DdeGetLastError(other), DMLERR_NO_ERROR);

    DWORD third = 0;
    ASSERT_EQ(DdeInitialize(&third, &noCallback, 0, 0), DMLERR_NO_ERROR);
    const HDDEDATA data = DdeCreateDataHandle(third, nullptr, 8, 0, 0, CF_TEXT, 0);
    ASSERT_NE(data, 0u);
    EXPECT_TRUE(DdeUninitialize(third));
    EXPECT_FALSE(DdeUninitialize(third));
    EXPECT_EQ(DdeAccessData(data, nullptr), nullptr); // freed with its instance
}

} // namespace
} // namespace orvane::test
