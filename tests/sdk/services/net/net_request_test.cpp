// Interface requests that only read, or refuse before reaching anything.
// Changes of an MTU and of the configuration run in the appliance root.
#include <gtest/gtest.h>

#include <string>

#include "base/err/vral_err.h"
#include "services/net/vexa_net.h"

TEST(NetRequest, NamesThatDoNotFitTheRequestAreRefused)
{
    // 15 characters and the terminator fill the request's name field; a
    // longer name would be cut into another interface's name
    const std::string sixteen(16, 'e');
    const std::string seventeen = "eth0" + std::string(13, 'x');
    for (const std::string &name : {sixteen, seventeen}) {
        VEXAETHINFO info{7, 7, 7};
        VRALErrSetCode(0);
        EXPECT_EQ(VEXANetGetEthInfo(&info, name.c_str()), -1) << name;
        EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
        EXPECT_EQ(info.speed, 7);
        EXPECT_EQ(VEXANetSetMTUEth("1500", name.c_str()), -1) << name;
        EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
        VRALErrSetCode(0);
        EXPECT_EQ(VEXANetGetMTUSetting(name.c_str()), -1) << name;
        EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
    }
}

TEST(NetRequest, NullArgumentsAreRefused)
{
    VEXAETHINFO info{};
    EXPECT_EQ(VEXANetGetEthInfo(nullptr, "lo"), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
    EXPECT_EQ(VEXANetGetEthInfo(&info, nullptr), -1);
    EXPECT_EQ(VEXANetSetMTUEth(nullptr, "lo"), -1);
    EXPECT_EQ(VEXANetSetMTUEth("1500", nullptr), -1);
    EXPECT_EQ(VEXANetGetMTUSetting(nullptr), -1);
    EXPECT_EQ(VEXANetSetMTUValue(nullptr, "eth0"), -1);
    EXPECT_EQ(VEXANetSetMTUValue("1500", nullptr), -1);
    EXPECT_EQ(VEXANetConfSetMTUValue(nullptr, "eth0"), -1);
    EXPECT_EQ(VEXANetConfSetMTUValue("1500", nullptr), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
}

TEST(NetRequest, TextThatWouldBreakTheKeyLineIsRefused)
{
    // refused before any lock or file is touched
    for (const char *name : {"", "eth0\nx", "eth0=1", "eth 0", "eth0\""}) {
        VRALErrSetCode(0);
        EXPECT_EQ(VEXANetConfSetMTUValue("1500", name), -1) << name;
        EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS) << name;
    }
    for (const char *mtu : {"1500\nroot=1", "15\"00", "1500\r"}) {
        VRALErrSetCode(0);
        EXPECT_EQ(VEXANetConfSetMTUValue(mtu, "eth0"), -1) << mtu;
        EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS) << mtu;
    }
}

TEST(NetRequest, ReadsTheLoopbackMtuAndNothingForAMissingInterface)
{
    EXPECT_GT(VEXANetGetMTUSetting("lo"), 0);
    EXPECT_EQ(VEXANetGetMTUSetting("vexanone0"), 0);
    VEXAETHINFO info{0, 0, 0};
    EXPECT_EQ(VEXANetGetEthInfo(&info, "vexanone0"), -1);
}
