// Growth of the FTP chroot step of a one-user rename with the list at
// 10,000 and at 50,000 names (the old name not in the list, so nothing is
// rewritten), measured inside an appliance root, sides alternating: goal
// at most x7 (n log n gives x5.9).
// Run build/<dir>/bench/ftp_chroot_bench as root; it prints the ratio.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench_root.h"
#include "services/ftp/vexa_ftp.h"
#include "services/user/user_set_internal.h"

namespace {

std::string chrootList(int n)
{
    std::string text;
    for (int i = 0; i < n; ++i)
        text += (i % 3 == 0 ? "Ftp" : "ftp") + std::to_string(i * 7919 % 1000003) + "\n";
    return text;
}

int inside()
{
    const std::string small = chrootList(10000);
    const std::string large = chrootList(50000);
    VEXAUSER *user = nullptr;
    if (VEXAUserAlloc(&user, "renamed", "", 1030, 100, "", "/var/services/homes/renamed", "/bin/sh", 0, "", 0) != 0)
        return 1;
    const char *oldNames[] = {"notlisted"};
    VEXAUSER *users[] = {user};
    const unsigned char written[] = {1};
    const vexauser::Batch batch{oldNames, users, 1, written};
    const auto step = [&] { vexabench::expect(vexauser::SDKISetFTPChrootUser(batch) == 0, "chroot step"); };
    // each call reads the list of its side
    const auto place = [&](bool isLarge) { vexabench::put("", FTP_CHROOT_CONF, isLarge ? large : small); };
    place(true);
    struct stat before {};
    struct stat after {};
    stat(FTP_CHROOT_CONF, &before);
    step();
    stat(FTP_CHROOT_CONF, &after);
    // a rewrite would move a new file in
    const bool same = before.st_ino == after.st_ino && before.st_mtim.tv_sec == after.st_mtim.tv_sec &&
                      before.st_mtim.tv_nsec == after.st_mtim.tv_nsec &&
                      after.st_size == static_cast<off_t>(large.size());
    vexabench::expect(same, "the list stays as it was");
    vexabench::printRatio("chroot step at 50,000 names / at 10,000", vexabench::alternate(11, 3, step, step, place),
                          "<= 7");
    VEXAUserFree(user);
    return 0;
}

}  // namespace

int main()
{
    if (getenv("VEXA_BENCH_INSIDE") != nullptr)
        return inside();
    return vexabench::runRoot("chroot", {{"/etc/vexainfo.conf", "codepage=\"utf8\"\n"}});
}
