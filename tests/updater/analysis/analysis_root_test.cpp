// The package analysis inside the appliance root: version files, model
// ids, the system volume on RAID and disk models, "/writeable" and the
// migration flags.
#include <gtest/gtest.h>

#include <sys/mount.h>

#include <map>
#include <string>
#include <vector>

#include "analysis_fixture.h"
#include "analysis_internal.h"
#include "approot.h"
#include "root_probe.h"
#include "simfixture.h"
#include "test_tmp.h"
#include "updt_analysis.h"
#include "updt_driver.h"
#include "updt_patch.h"

namespace {

using vexatest::probe::say;
using Lines = std::vector<std::string>;

// The migration flags with the photo bit mask among them, by name.
const std::map<std::string, int *> &allFlags()
{
    static const std::map<std::string, int *> flags = analysistest::allFlags();
    return flags;
}

// analyze <package folder> <bantam 0|1> <no initrd 0|1>
int probe(vexatest::probe::Ops next)
{
    while (next.more()) {
        const std::string op = next();
        if (op == "analyze") {
            snprintf(gszPatchDir, sizeof gszPatchDir, "%s", next().c_str());
            gIsBantam = std::stoi(next());
            gNoInitrd = std::stoi(next());
            gUseMtdBuffer = 1;
            gFixFisDir = 0;
            say("rc " + std::to_string(ErrUPDTIAnalyze_WholeSystem()));
            say("use " + std::to_string(gUseMtdBuffer) + " fix " + std::to_string(gFixFisDir) + " save " +
                std::to_string(gSaveWriteable));
            std::string set = "flags";
            for (const auto &[name, flag] : allFlags()) {
                if (*flag != 0)
                    set += " " + name + "=" + std::to_string(*flag);
            }
            say(set);
        } else if (op == "space") {
            say("space " + std::to_string(IsSystemPartitionSufficient(std::stoll(next()))));
        } else if (op == "resizeable") {
            say("resizeable " + std::to_string(IsSystemPartitionResizeable()));
        } else if (op == "tmpfs") {
            // a small file system at a folder, for the free-space rule
            const std::string dir = next();
            const std::string size = next();
            if (mount("tmpfs", dir.c_str(), "tmpfs", 0, ("size=" + size).c_str()) != 0)
                return 93;
        } else {
            return 92;
        }
    }
    return 0;
}

VEXATEST_ROOT_PROBE(probe)

const char *const kPkg = "/volume1/upd@te";

struct Firmware {
    std::string model = "vexa_q80";
    std::string major = "2", minor = "1", phase = "0", build = "500";
};

std::string versionText(const Firmware &f)
{
    return "majorversion=\"" + f.major + "\"\nminorversion=\"" + f.minor + "\"\nbuildphase=\"" + f.phase +
           "\"\nbuildnumber=\"" + f.build + "\"\n";
}

class AnalysisRoot : public ::testing::Test {
protected:
    approot::Appliance app{"analysis"};
    vexatest::TempDir state{"analysissk"};
    Firmware installed;
    Firmware package{"vexa_q80", "2", "2", "0", "600"};
    std::string extract = "100000";
    bool raid = false;

    void SetUp() override
    {
        simkernel::makeChip(state.path(), "normal");
        simkernel::attach(app, state.path());
        disk(600000, 1400000);
    }

    // The first partition of /dev/hda of sectors1 sectors; the third at start3.
    void disk(long long sectors1, long long start3)
    {
        app.writeFile("/sbin/sfdisk", analysistest::sfdiskScript(sectors1, start3), 0755);
    }
    void raidVolume(uint64_t bytes)
    {
        raid = true;
        analysistest::md0Of(state.path(), bytes);
        if (!sysfsShown_) {
            analysistest::md0Members(app, sysfs_.path());
            sysfsShown_ = true;
        }
    }
    void write()
    {
        app.writeFile("/etc.defaults/vexainfo.conf",
                      "unique=\"" + installed.model + "\"\nsupportraid=\"" + (raid ? "yes" : "no") + "\"\n");
        app.writeFile("/etc.defaults/VERSION", versionText(installed));
        app.writeFile(std::string(kPkg) + "/VERSION",
                      versionText(package) + "unique=\"" + package.model + "\"\nextractsize=\"" + extract + "\"\n");
    }
    Lines analyze(bool bantam = false, bool noInitrd = false)
    {
        write();
        return vexatest::probe::run(app, {"analyze", kPkg, bantam ? "1" : "0", noInitrd ? "1" : "0"});
    }
    int code(bool bantam = false, bool noInitrd = false)
    {
        const Lines out = analyze(bantam, noInitrd);
        return out.empty() ? -1000 : std::stoi(out[0].substr(3));
    }
    std::string syslogText() const
    {
        std::string all;
        for (const std::string &l : app.syslog())
            all += l + "\n";
        return all;
    }

private:
    vexatest::TempDir sysfs_{"analysissys"};
    bool sysfsShown_ = false;
};

}  // namespace

TEST_F(AnalysisRoot, NewerBuildOnADiskModelPassesAndLogsTheVersions)
{
    installed.build = "770";
    package.build = "900";
    EXPECT_EQ(analyze(), (Lines{"rc 0", "use 1 fix 0 save 0",
                                "flags gAddMailAccounts=1 gRewritePasswdHomes=1 gRewriteUserConf=1 "
                                "gUpdateCodepage=1 gUpdateNetBackup=1"}));
    EXPECT_NE(app.readFile("/var/log/vexaupdate.log").find("\tUpgrade from version 2.1.0.770 to version 2.2.0.900\n"),
              std::string::npos);
    EXPECT_FALSE(app.exists("/tmp/update.message"));
}

TEST_F(AnalysisRoot, NewerBuildOnARaidModelMeasuresMd0)
{
    raidVolume((100000 + 10240) * 1024ULL);
    installed.build = "420";
    EXPECT_EQ(analyze(), (Lines{"rc 0", "use 1 fix 0 save 0",
                                "flags gAddMailAccounts=1 gChmodPhotoEaDir=1 gDropMediaDb=1 gDumpPgsqlDbs=1 "
                                "gFixFtpPortRange=1 gMoveMTUValue=1 gPhotoDbUpdates=3 gRewritePasswdHomes=1 "
                                "gRewriteUserConf=1 gUpdateCodepage=1 gUpdateNetBackup=1 gUpdateRsyncdConf=1 "
                                "gUpdateRsyncdSecrets=1 gUpdateSmmspGroup=1 gUpdateUsbBackup=1"}));
    // one KiB less than the need refuses
    raidVolume((100000 + 10240 - 1) * 1024ULL);
    EXPECT_EQ(code(), 16);
}

TEST_F(AnalysisRoot, HugeRaidVolumeDoesNotWrap)
{
    raidVolume(4ULL << 40);  // 4 TiB: 2^32 KiB
    extract = "4000000000";
    EXPECT_EQ(code(), 0);
}

TEST_F(AnalysisRoot, HugeFirstPartitionDoesNotWrap)
{
    // 2^33 sectors: 2^32 KiB, which a 32-bit size would read as 0
    disk(1LL << 33, 1400000);
    extract = "4000000000";
    EXPECT_EQ(code(), 0);
    extract = std::to_string((1LL << 32) - 10240 + 1);
    EXPECT_EQ(code(), 16);
}

TEST_F(AnalysisRoot, WithoutInitrdNoMigrationFlagIsSet)
{
    installed.build = "100";
    package.build = "900";
    const Lines out = analyze(false, true);
    EXPECT_EQ(out, (Lines{"rc 0", "use 0 fix 0 save 0", "flags"}));
}

TEST_F(AnalysisRoot, OldBuildsClearTheDriverBuffer)
{
    installed.build = "350";
    EXPECT_EQ(analyze(false, true)[1], "use 0 fix 0 save 0");
    installed.build = "351";
    EXPECT_EQ(analyze(false, true)[1], "use 1 fix 0 save 0");
}

TEST_F(AnalysisRoot, FlashDirectoryRepairForOneBantamBuild)
{
    installed.model = "vexalink_powerpc_q80z+_1hd";
    package.model = "VEXALINK_POWERPC_Q80Z+_1HD";
    installed.build = "284";
    EXPECT_EQ(analyze(true, true)[1], "use 0 fix 1 save 0");
    EXPECT_EQ(analyze(false, true)[1], "use 0 fix 0 save 0");
    installed.build = "285";
    EXPECT_EQ(analyze(true, true)[1], "use 0 fix 0 save 0");
}

TEST_F(AnalysisRoot, FactoryPartitionCountsEnlargedWhenTheThirdLeavesRoom)
{
    // 273042 sectors: 136521 KiB, or 265041 KiB once resizeable
    disk(273042, 1333332);
    extract = std::to_string(265041 - 10240);
    EXPECT_EQ(code(), 0);
    extract = std::to_string(265041 - 10240 + 1);
    EXPECT_EQ(code(), 16);

    disk(273042, 1333331);
    extract = std::to_string(136521 - 10240);
    EXPECT_EQ(code(), 0);
    extract = std::to_string(136521 - 10240 + 1);
    EXPECT_EQ(code(), 16);
    EXPECT_NE(syslogText().find("System Partition is not resizeable. (1333331)"), std::string::npos);
    // what would fit the enlarged partition does not fit this one
    extract = std::to_string(265041 - 10240);
    EXPECT_EQ(code(), 16);
    EXPECT_NE(syslogText().find("System Partition is not sufficient. (136521 < 265041)"), std::string::npos);

    // any other size is taken as it is
    disk(273043, 1333332);
    extract = std::to_string(136521 - 10240);
    EXPECT_EQ(code(), 0);
    extract = std::to_string(136521 - 10240 + 1);
    EXPECT_EQ(code(), 16);
}

TEST_F(AnalysisRoot, TooLittleSpaceSetsTheMessage)
{
    disk(100000, 1400000);  // 50000 KiB
    extract = "39761";
    EXPECT_EQ(code(), 16);
    EXPECT_EQ(app.readFile("/tmp/update.message"),
              "extramsg=\"System volume is insufficient to extract upgrade patch, please backup all files and "
              "restore to factory default.\"\n");
    EXPECT_NE(syslogText().find("System Partition is not sufficient. (50000 < 50001)"), std::string::npos);
    extract = "39760";
    EXPECT_EQ(code(), 0);
}

TEST_F(AnalysisRoot, NoMeasurableVolumeRefuses)
{
    app.writeFile("/sbin/sfdisk", "#!/bin/sh\nexit 1\n", 0755);
    EXPECT_EQ(code(), 16);
    EXPECT_NE(syslogText().find("RCPartitionConfigs(/dev/hda1) failed"), std::string::npos);

    // a RAID model without its array
    raid = true;
    simkernel::MdArray md;
    md.running = false;
    simkernel::setMd(state.path(), 0, md);
    EXPECT_EQ(code(), 16);
    EXPECT_NE(syslogText().find("Failed to get RAID info, err=0, errno=0x600"), std::string::npos);
}

TEST_F(AnalysisRoot, RefusalsByVersionFileAndModel)
{
    struct Case {
        const char *what;
        void (*change)(Firmware &inst, Firmware &pkg, std::string &extract);
        int code;
    };
    const Case cases[] = {
        {"same build", [](Firmware &i, Firmware &p, std::string &) { p.build = i.build; }, 10},
        {"older build", [](Firmware &, Firmware &p, std::string &) { p.build = "499"; }, 10},
        {"other model", [](Firmware &, Firmware &p, std::string &) { p.model = "vexa_q81"; }, 12},
        {"model differing in case only", [](Firmware &, Firmware &p, std::string &) { p.model = "VEXA_Q80"; }, 0},
        {"empty package model", [](Firmware &, Firmware &p, std::string &) { p.model = ""; }, 12},
        {"empty installed model", [](Firmware &i, Firmware &, std::string &) { i.model = ""; }, 12},
        {"installed model of 33 characters", [](Firmware &i, Firmware &p, std::string &) {
             i.model = std::string(33, 'm');
             p.model = i.model;
         }, 8},
        {"models of 32 characters", [](Firmware &i, Firmware &p, std::string &) {
             i.model = std::string(32, 'm');
             p.model = i.model;
         }, 0},
        {"models of 32 characters differing in case", [](Firmware &i, Firmware &p, std::string &) {
             i.model = std::string(32, 'm');
             p.model = std::string(31, 'm') + "M";
         }, 0},
        {"models of 32 characters differing in the last", [](Firmware &i, Firmware &p, std::string &) {
             i.model = std::string(32, 'm');
             p.model = std::string(31, 'm') + "n";
         }, 12},
        {"package major 1", [](Firmware &, Firmware &p, std::string &) { p.major = "1"; }, 13},
        {"installed major 1", [](Firmware &i, Firmware &, std::string &) { i.major = "1"; }, 13},
        {"installed build 0", [](Firmware &i, Firmware &, std::string &) { i.build = "0"; }, 6},
        {"installed build not a number", [](Firmware &i, Firmware &, std::string &) { i.build = "x12"; }, 6},
        {"installed build negative", [](Firmware &i, Firmware &, std::string &) { i.build = "-5"; }, 6},
        {"installed major 0", [](Firmware &i, Firmware &, std::string &) { i.major = "0"; }, 6},
        {"package build 0", [](Firmware &, Firmware &p, std::string &) { p.build = "0"; }, 7},
        {"package build negative", [](Firmware &, Firmware &p, std::string &) { p.build = "-600"; }, 7},
        {"package major not a number", [](Firmware &, Firmware &p, std::string &) { p.major = "two"; }, 7},
        {"extractsize 0", [](Firmware &, Firmware &, std::string &e) { e = "0"; }, 7},
        {"extractsize negative", [](Firmware &, Firmware &, std::string &e) { e = "-20000"; }, 7},
        {"extractsize not a number", [](Firmware &, Firmware &, std::string &e) { e = "lots"; }, 7},
        {"extractsize at the limit", [](Firmware &, Firmware &, std::string &e) { e = "9223372036854775807"; }, 16},
        {"extractsize beyond the limit", [](Firmware &, Firmware &, std::string &e) { e = "99999999999999999999"; },
         16},
        {"extractsize just below overflow",
         [](Firmware &, Firmware &, std::string &e) { e = "9223372036854765568"; }, 16},
    };
    for (const Case &c : cases) {
        installed = Firmware{};
        package = Firmware{"vexa_q80", "2", "2", "0", "600"};
        extract = "100000";
        c.change(installed, package, extract);
        EXPECT_EQ(code(), c.code) << c.what;
    }
}

TEST_F(AnalysisRoot, MissingKeysAndFiles)
{
    write();
    struct Case {
        const char *what;
        const char *file;
        std::string content;  // empty: remove
        int code;
        const char *message;
    };
    const std::string pkgFile = std::string(kPkg) + "/VERSION";
    const Case cases[] = {
        {"no installed version file", "/etc.defaults/VERSION", "", 6, "fail to read major version"},
        {"no installed minor", "/etc.defaults/VERSION",
         "majorversion=\"2\"\nbuildphase=\"0\"\nbuildnumber=\"500\"\n", 6, "fail to read minor version"},
        {"no installed phase", "/etc.defaults/VERSION",
         "majorversion=\"2\"\nminorversion=\"1\"\nbuildnumber=\"500\"\n", 6, "fail to read buildphase"},
        {"no installed build", "/etc.defaults/VERSION", "majorversion=\"2\"\nminorversion=\"1\"\nbuildphase=\"0\"\n",
         6, "fail to read buildnumber"},
        {"no installed model", "/etc.defaults/vexainfo.conf", "supportraid=\"no\"\n", 8, nullptr},
        {"no installed info file", "/etc.defaults/vexainfo.conf", "", 8, nullptr},
        {"no package version file", pkgFile.c_str(), "", 7, "the file [/volume1/upd@te/VERSION]"},
        {"no package model", pkgFile.c_str(), versionText(Firmware{"", "2", "2", "0", "600"}) + "extractsize=\"1\"\n",
         9, nullptr},
        {"no package size", pkgFile.c_str(), versionText(Firmware{"", "2", "2", "0", "600"}) + "unique=\"vexa_q80\"\n",
         7, "fail to get patch size"},
        {"no package build", pkgFile.c_str(), "unique=\"vexa_q80\"\nmajorversion=\"2\"\nminorversion=\"1\"\n"
                                              "buildphase=\"0\"\nextractsize=\"1\"\n",
         7, "fail to read new build number"},
    };
    for (const Case &c : cases) {
        write();
        if (c.content.empty())
            app.run({"/bin/rm", "-f", c.file});
        else
            app.writeFile(c.file, c.content);
        app.clearSyslog();
        const approot::RunResult r = app.run(vexatest::probe::argv({"analyze", kPkg, "0", "0"}));
        const Lines out = vexatest::probe::said(r.out);
        ASSERT_FALSE(out.empty()) << c.what << r.err;
        EXPECT_EQ(out[0], "rc " + std::to_string(c.code)) << c.what;
        if (c.message != nullptr) {
            EXPECT_NE(syslogText().find(c.message), std::string::npos) << c.what << "\n" << syslogText();
        }
    }
}

TEST_F(AnalysisRoot, PackageVersionFileMustBeARegularReadableFile)
{
    write();
    const std::string pkgFile = std::string(kPkg) + "/VERSION";
    app.writeFile(pkgFile, "");
    EXPECT_EQ(vexatest::probe::said(app.run(vexatest::probe::argv({"analyze", kPkg, "0", "0"})).out)[0], "rc 7");
    write();
    app.run({"/bin/chmod", "0044", pkgFile});
    EXPECT_EQ(vexatest::probe::said(app.run(vexatest::probe::argv({"analyze", kPkg, "0", "0"})).out)[0], "rc 7");
    // changes after a run are made inside the root, over what it left
    const std::string quoted = vexatest::shellQuote(pkgFile);
    app.run({"/bin/sh", "-c", "rm -f " + quoted + " && mkdir " + quoted});
    EXPECT_EQ(vexatest::probe::said(app.run(vexatest::probe::argv({"analyze", kPkg, "0", "0"})).out)[0], "rc 7");
}

class WriteableRoot : public AnalysisRoot {
protected:
    void SetUp() override
    {
        AnalysisRoot::SetUp();
        installed.model = "quorlan_ixp420_1hd";
        package.model = "QUORLAN_IXP420_1HD";
        installed.build = "261";
        app.mkdir("/writeable");
    }
    Lines analyzeWith(const std::string &freeSize)
    {
        write();
        Lines ops;
        if (!freeSize.empty())
            ops = {"tmpfs", "/writeable", freeSize};
        for (const char *o : {"analyze", kPkg, "0", "0"})
            ops.push_back(o);
        return vexatest::probe::run(app, ops);
    }
};

TEST_F(WriteableRoot, DefaultFsComesFromTheFactoryFileElseReiserfs)
{
    app.writeFile("/etc/vexainfo.conf", "hostname=\"box\"\n");
    app.writeFile("/etc.defaults/vexainfo.conf", "");
    write();
    app.writeFile("/etc.defaults/vexainfo.conf",
                  "unique=\"quorlan_ixp420_1hd\"\nsupportraid=\"no\"\ndefaultfs=\"ext3\"\n");
    const approot::RunResult r = app.run(vexatest::probe::argv({"analyze", kPkg, "0", "0"}));
    const Lines out = vexatest::probe::said(r.out);
    ASSERT_GE(out.size(), 2u);
    EXPECT_EQ(out[0], "rc 0");
    EXPECT_EQ(out[1], "use 0 fix 0 save 1");
    EXPECT_EQ(app.readFile("/etc/vexainfo.conf"), "hostname=\"box\"\ndefaultfs=\"ext3\"\n");

    app.writeFile("/etc/vexainfo.conf", "hostname=\"box\"\n");
    EXPECT_EQ(analyzeWith("")[0], "rc 0");
    EXPECT_EQ(app.readFile("/etc/vexainfo.conf"), "hostname=\"box\"\ndefaultfs=\"reiserfs\"\n");
}

TEST_F(WriteableRoot, PresentOrUnreadableDefaultFsIsNotWritten)
{
    app.writeFile("/etc/vexainfo.conf", "defaultfs=\"xfs\"\n");
    EXPECT_EQ(analyzeWith("")[0], "rc 0");
    EXPECT_EQ(app.readFile("/etc/vexainfo.conf"), "defaultfs=\"xfs\"\n");

    // a value longer than the analysis reads is there all the same
    const std::string longValue = "defaultfs=\"" + std::string(100, 'f') + "\"\n";
    app.writeFile("/etc/vexainfo.conf", longValue);
    EXPECT_EQ(analyzeWith("")[0], "rc 0");
    EXPECT_EQ(app.readFile("/etc/vexainfo.conf"), longValue);

    // a file that cannot be written: code 22
    app.run({"/bin/sh", "-c", "rm -f /etc/vexainfo.conf && mkdir /etc/vexainfo.conf"});
    EXPECT_EQ(analyzeWith("")[0], "rc 22");
}

TEST_F(WriteableRoot, FreeSpaceOnWriteable)
{
    app.writeFile("/etc/vexainfo.conf", "defaultfs=\"xfs\"\n");
    EXPECT_EQ(analyzeWith("1m")[0], "rc 16");
    EXPECT_FALSE(app.exists("/tmp/update.message"));
    EXPECT_EQ(analyzeWith("2m")[0], "rc 0");
}

TEST_F(WriteableRoot, RuleOnlyForOldBuildsOfTheFourModelsWithTheFolder)
{
    app.writeFile("/etc/vexainfo.conf", "defaultfs=\"xfs\"\n");
    installed.build = "262";
    EXPECT_EQ(analyzeWith("1m")[1], "use 0 fix 0 save 0");
    installed.build = "261";
    installed.model = package.model = "vexa_q80";
    EXPECT_EQ(analyzeWith("1m")[1], "use 0 fix 0 save 0");
    installed.model = package.model = "vexalink_powerpc_q80z+_1hd";
    EXPECT_EQ(analyzeWith("")[1], "use 0 fix 0 save 1");
    app.run({"/bin/rmdir", "/writeable"});
    EXPECT_EQ(analyzeWith("")[1], "use 0 fix 0 save 0");
}
