// What the backup-setting steps read in an appliance root: the accounts and
// smb.conf behind the share listing, and set files read back as sections.
#ifndef VEXA_TEST_BACKUP_FIXTURE_H
#define VEXA_TEST_BACKUP_FIXTURE_H

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "approot.h"
#include "set_file.h"
#include "test_tmp.h"

namespace backuptest {

using vexatest::Keys;
using vexatest::parseSections;
using vexatest::Sections;

// Two normal shares (music, photo) between a USB share and the USB backup
// share, which the listing of normal shares leaves out.
inline constexpr char kSmbConf[] = "[global]\n\tworkgroup = WORKGROUP\n"
                                   "[music]\n\tpath = /volume1/music\n"
                                   "[usbshare1]\n\tpath = /volumeUSB1/usbshare\n"
                                   "[photo]\n\tpath = /volume1/photo\n"
                                   "[usbbackup]\n\tpath = /volumeUSB1/usbbackup\n";

// The account files the share cache is built against, and smb.conf.
inline void writeShares(approot::Appliance &app, const std::string &smbConf = kSmbConf)
{
    app.writeFile("/etc/passwd", "root:x:0:0::/root:/bin/sh\n", 0644);
    app.writeFile("/etc/shadow", "root:*:0:0:99999:7:::\n", 0600);
    app.writeFile("/etc/group", "root:x:0:\nusers:x:100:\n", 0644);
    app.writeFile("/etc/group_desc", "", 0644);
    app.writeFile("/etc/vexauser.conf", "", 0640);
    app.writeFile("/usr/vexa/etc/private/smbpasswd", "", 0600);
    app.writeFile("/usr/vexa/etc/smb.conf", smbConf);
    app.mkdir("/tmp", 01777);
}

// Changes outside the caches and lock files under /tmp.
inline std::vector<approot::Change> changesOutsideTmp(const approot::Appliance &app)
{
    std::vector<approot::Change> out;
    for (const approot::Change &c : app.changes()) {
        if (c.path.rfind("/tmp/", 0) != 0 && c.path != "/tmp")
            out.push_back(c);
    }
    return out;
}

}  // namespace backuptest

#endif
