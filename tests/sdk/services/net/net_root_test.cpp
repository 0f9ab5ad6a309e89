// MTU changes on a real eth0 in the appliance root's own network.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "approot.h"
#include "base/err/vral_err.h"
#include "root_probe.h"
#include "services/net/vexa_net.h"

namespace {

using vexatest::probe::say;
using Lines = std::vector<std::string>;

int probe(vexatest::probe::Ops next)
{
    while (next.more()) {
        const std::string op = next();
        if (op == "set") {
            const std::string mtu = next();
            const std::string ifname = next();
            say("set " + std::to_string(VEXANetSetMTUValue(mtu.c_str(), ifname.c_str())));
        } else if (op == "eth") {
            const std::string ifname = next();
            VEXAETHINFO info{0, 0, 0};
            const int r = VEXANetGetEthInfo(&info, ifname.c_str());
            say("eth " + std::to_string(r) + " speed " + std::to_string(info.speed) + " duplex " +
                std::to_string(info.duplex) + " mtu " + std::to_string(info.mtu));
        } else if (op == "seteth") {
            const std::string mtu = next();
            const std::string ifname = next();
            say("seteth " + std::to_string(VEXANetSetMTUEth(mtu.c_str(), ifname.c_str())));
        } else if (op == "mtu") {
            say("mtu " + std::to_string(VEXANetGetMTUSetting(next().c_str())));
        } else {
            return 92;
        }
    }
    return 0;
}

VEXATEST_ROOT_PROBE(probe)

class NetRoot : public ::testing::Test {
protected:
    approot::Appliance app{"net"};

    void SetUp() override { app.writeFile("/etc/vexainfo.conf", "hostname=\"box\"\neth0_mtu=\"1500\"\n"); }

    Lines run(const Lines &ops) { return vexatest::probe::run(app, ops); }
};

}  // namespace

TEST_F(NetRoot, GigabitLinkTakesTheMtuAndTheKeyIsWritten)
{
    app.setEth0(1500, 1000);
    EXPECT_EQ(run({"eth", "eth0", "set", "9000", "eth0", "mtu", "eth0"}),
              (Lines{"eth 0 speed 1000 duplex 1 mtu 1500", "set 0", "mtu 9000"}));
    EXPECT_EQ(app.eth0MtuAfterRun(), 9000);
    // the link is given its five seconds to come back, once
    EXPECT_EQ(app.pauses(), (Lines{"sleep 5.000000000"}));
    EXPECT_EQ(app.readFile("/etc/vexainfo.conf"), "hostname=\"box\"\neth0_mtu=\"9000\"\n");
}

TEST_F(NetRoot, SlowerLinkKeepsItsMtuButTheKeyIsWritten)
{
    app.setEth0(1500, 100);
    EXPECT_EQ(run({"set", "9000", "eth0", "mtu", "eth0"}), (Lines{"set 0", "mtu 1500"}));
    EXPECT_EQ(app.eth0MtuAfterRun(), 1500);
    EXPECT_EQ(app.pauses(), Lines{});
    EXPECT_EQ(app.readFile("/etc/vexainfo.conf"), "hostname=\"box\"\neth0_mtu=\"9000\"\n");
}

TEST_F(NetRoot, InterfaceWithoutLinkSettingsIsLeftAlone)
{
    // the loopback has no ethtool support: speed stays 0, nothing changes
    const Lines out = run({"eth", "lo", "set", "1500", "lo", "mtu", "lo"});
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].substr(0, 24), "eth 0 speed 0 duplex 0 m");
    EXPECT_EQ(out[1], "set 0");
    EXPECT_EQ(out[2], "mtu 65536");
    EXPECT_EQ(app.pauses(), Lines{});
    EXPECT_EQ(app.readFile("/etc/vexainfo.conf"), "hostname=\"box\"\neth0_mtu=\"1500\"\nlo_mtu=\"1500\"\n");
}

TEST_F(NetRoot, MissingOrOverlongInterfaceStillRecordsTheKey)
{
    const std::string sixteen = "eth0" + std::string(12, 'x');
    const std::string seventeen = "eth0" + std::string(13, 'x');
    EXPECT_EQ(run({"set", "4000", "eth1", "set", "4000", sixteen, "set", "4000", seventeen}),
              (Lines{"set -1", "set -1", "set -1"}));
    EXPECT_EQ(app.pauses(), Lines{});
    EXPECT_EQ(app.readFile("/etc/vexainfo.conf"), "hostname=\"box\"\neth0_mtu=\"1500\"\neth1_mtu=\"4000\"\n" +
                                                      sixteen + "_mtu=\"4000\"\n" + seventeen + "_mtu=\"4000\"\n");
}

TEST_F(NetRoot, LongNameIsNeverCutIntoAnotherInterface)
{
    // a 16-character name cut to fit the request would be the name of
    // this 15-character interface
    const std::string prefix = "eth0xxxxxxxxxxx";
    app.setEth0(1500, 1000);
    const approot::RunResult r = app.run(
        {"/bin/sh", "-c",
         "ip link set eth0 down && ip link set eth0 name " + prefix + " && " + vexatest::probe::command() +
             " seteth 9000 " + prefix + "y mtu " + prefix + " seteth 9000 " + prefix + " mtu " + prefix});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(vexatest::probe::said(r.out), (Lines{"seteth -1", "mtu 1500", "seteth 0", "mtu 9000"}));
}
