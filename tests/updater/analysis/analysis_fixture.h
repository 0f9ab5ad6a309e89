// Pieces the analysis tests share: the partition query's stand-in and the
// migration flags by name.
#ifndef VEXA_TEST_ANALYSIS_FIXTURE_H
#define VEXA_TEST_ANALYSIS_FIXTURE_H

#include <cstdint>
#include <map>
#include <span>
#include <string>

#include "approot.h"
#include "simfixture.h"
#include "migration_table.h"
#include "updt_analysis.h"

namespace analysistest {

// A "/sbin/sfdisk" for /dev/hda: partition 1 of sectors1 sectors from
// sector 63, partition 3 from sector start3; nothing for anything else.
inline std::string sfdiskScript(long long sectors1, long long start3)
{
    return "#!/bin/sh\n"
           "case \"$3 $4\" in\n"
           "'-N1 /dev/hda') echo '/dev/hda1   63   " +
           std::to_string(sectors1 + 62) + "   " + std::to_string(sectors1) +
           "  83  Linux' ;;\n"
           "'-N3 /dev/hda') echo '/dev/hda3   " +
           std::to_string(start3) + "   9999999   " + std::to_string(9999999 - start3 + 1) +
           "  83  Linux' ;;\n"
           "esac\n";
}

// "/dev/md0" as a RAID 1 array of bytes in the simulated kernel.
inline void md0Of(const std::string &stateDir, uint64_t bytes)
{
    simkernel::MdArray md;
    md.level = 1;
    md.disks = 2;
    md.sizeKib = bytes >> 10;
    md.devSize = bytes;
    simkernel::setMd(stateDir, 0, md);
}

// Its two members, both in sync, in the md sysfs folder shown in the root.
inline void md0Members(approot::Appliance &app, const std::string &sysfsDir)
{
    simkernel::writeMdSysfs(sysfsDir, 0, {{"sda3", "in_sync", "0"}, {"sdb3", "in_sync", "1"}});
    app.addLayer(sysfsDir);
}

// Every migration flag the table sets from a build threshold alone, by
// name (the photo bit mask gPhotoDbUpdates, set for a range, is not among
// them).
inline std::map<std::string, int *> thresholdFlags(
    std::span<const updt::migrate::Step> table = updt::migrate::steps())
{
    std::map<std::string, int *> flags;
    for (const updt::migrate::Step &s : table) {
        if (s.flag != nullptr && s.lastBuild != updt::migrate::kNotByBuild && s.bits == 1 &&
            s.firstBuild == updt::migrate::kAnyBuild)
            flags[s.flagName] = s.flag;
    }
    return flags;
}

// Every flag of the table by name, the photo bit mask among them.
inline std::map<std::string, int *> allFlags(std::span<const updt::migrate::Step> table = updt::migrate::steps())
{
    std::map<std::string, int *> flags;
    for (const updt::migrate::Step &s : table) {
        if (s.flag != nullptr && s.lastBuild != updt::migrate::kNotByBuild)
            flags[s.flagName] = s.flag;
    }
    return flags;
}

}  // namespace analysistest

#endif
