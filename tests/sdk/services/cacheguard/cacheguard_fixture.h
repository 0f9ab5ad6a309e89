// The appliance root of the cache-safety tests: the account files with
// groups and one share, and the names root works at in "/tmp".
#ifndef VEXA_TEST_CACHEGUARD_FIXTURE_H
#define VEXA_TEST_CACHEGUARD_FIXTURE_H

#include <string>
#include <vector>

#include "../group/group_fixture.h"

namespace guardtest {

using Lines = usertest::Lines;

// The live cache files of the three sets, with the mode each must have.
struct LiveFile {
    const char *path;
    const char *mode;
};
inline const std::vector<LiveFile> &liveFiles()
{
    static const std::vector<LiveFile> all = {
        {"/tmp/.db.user.name.0832", "644"},   {"/tmp/.db.user.misc.0832", "644"},
        {"/tmp/.db.user.shadow.0832", "600"}, {"/tmp/.db.user.smb.0832", "600"},
        {"/tmp/.db.user.uid.0832", "644"},    {"/tmp/.db.group.name.0832", "644"},
        {"/tmp/.db.group.id.0832", "644"},    {"/tmp/.db.group.desc.0832", "644"},
        {"/tmp/.db.vexashare.0832", "644"},
    };
    return all;
}

inline const char kSmbConf[] =
    "[global]\n\tsecurity = user\n\tworkgroup = WG\n"
    "[Docs]\n\tpath = /volume1/Docs\n\tvalid users = admin,@staff\n";

class GuardRoot : public grouptest::GroupRoot {
protected:
    void SetUp() override
    {
        GroupRoot::SetUp();
        app.writeFile("/usr/vexa/etc/smb.conf", kSmbConf, 0644);
    }
    // "PATH MODE UID LINKS" of every live file, as stat shows them.
    std::string liveStat()
    {
        std::string paths;
        for (const LiveFile &f : liveFiles())
            paths += std::string(" ") + f.path;
        return sh("stat -c '%n %a %u %h' " + paths);
    }
    std::string liveWanted()
    {
        std::string want;
        for (const LiveFile &f : liveFiles())
            want += std::string(f.path) + " " + f.mode + " 0 1\n";
        return want;
    }
    // Folders and files a build may have left in "/tmp" (none).
    std::string leftovers() { return sh("find /tmp -mindepth 1 -maxdepth 1 -type d ! -name lock; true"); }
};

}  // namespace guardtest

#endif
