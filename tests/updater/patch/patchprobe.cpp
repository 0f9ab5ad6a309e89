// Runs the updater's own flash stage inside the package folder under the
// simulated kernel, rolls back as the driver does after a failure, and
// prints what each step returned.  Options put a change between two steps
// of the stage where a test needs one.
//
// With --race-as UID TARGET [--exec PROGRAM ARG...] first, it plays the
// package folder's owner (the current folder) against the stage, or against
// PROGRAM: the folder is given to UID, the stage runs in a child,
// and when a process of the run stops (a simulated-kernel rule with
// sig=STOP) UID swaps "b@ckup" for a folder of links to TARGET before the
// process goes on.
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "updt_driver.h"
#include "updt_flash_stage.h"
#include "updt_shell.h"
#include "updt_status.h"

namespace {

// What the stage's exit code says about each of its steps.
void printSteps(int code)
{
    if (code == UPDT_ERR_PARTITION_INFO || code == UPDT_ERR_SPACE)
        return;
    std::printf("init=%d\n", code == UPDT_ERR_PATCH_INFO ? -1 : 0);
    if (code == UPDT_ERR_PATCH_INFO)
        return;
    if (!gGroupUpdate)
        std::printf("backup=%d\n", code == UPDT_ERR_BACKUP ? -1 : 0);
    if (code == UPDT_ERR_BACKUP)
        return;
    std::printf("patch=%d touched=%d\n", code == UPDT_OK ? 0 : -1, UPDTFlashTouched());
}

// A stopped process of this pid namespace other than the caller; 0.
pid_t stoppedProcess()
{
    pid_t found = 0;
    DIR *d = opendir("/proc");
    if (d == nullptr)
        return 0;
    while (dirent *e = readdir(d)) {
        pid_t pid = std::atoi(e->d_name);
        if (pid <= 0 || pid == getpid())
            continue;
        // A process may end between the listing and the read.
        int fd = open((std::string("/proc/") + e->d_name + "/stat").c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        char buf[512];
        ssize_t n = read(fd, buf, sizeof(buf) - 1);
        close(fd);
        if (n <= 0)
            continue;
        const std::string stat(buf, static_cast<size_t>(n));
        size_t paren = stat.rfind(')');
        if (paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] == 'T') {
            found = pid;
            break;
        }
    }
    closedir(d);
    return found;
}

// As uid: b@ckup moved aside and replaced by a folder of links.  A copy
// already begun (when uid can see it) is linked to where it went, so that
// a check of its size by path still passes; every other one to target.
int swapBackup(uid_t uid, const std::string &target)
{
    if (setgroups(0, nullptr) != 0 || setgid(uid) != 0 || setuid(uid) != 0)
        return 1;
    if (rename("b@ckup", "b@ckup.swapped") != 0 || mkdir("b@ckup", 0777) != 0)
        return 2;
    for (const char *name : {"RedBoot", "zImage", "rd.gz", "AllLib.tgz", "vendor", "vexacfg", "RedBoot Config",
                             "FIS Directory"}) {
        const std::string copy = std::string("mtd_") + name;
        struct stat st {};
        const std::string to =
            lstat(("b@ckup.swapped/" + copy).c_str(), &st) == 0 ? "../b@ckup.swapped/" + copy : target;
        if (symlink(to.c_str(), ("b@ckup/" + copy).c_str()) != 0)
            return 3;
    }
    return 0;
}

int race(uid_t uid, const std::string &target, char **argv)
{
    if (chown(".", uid, uid) != 0)
        return 96;
    pid_t child = fork();
    if (child == 0) {
        execv(argv[0], argv);
        _exit(127);
    }
    pid_t stopped = 0;
    int status = 0;
    while ((stopped = stoppedProcess()) == 0) {
        if (waitpid(child, &status, WNOHANG) == child) {
            std::printf("race=none\n");
            return 97;
        }
        sched_yield();
    }
    pid_t owner = fork();
    if (owner == 0)
        _exit(swapBackup(uid, target));
    int swapped = -1;
    waitpid(owner, &swapped, 0);
    std::printf("race=%d\n", WIFEXITED(swapped) ? WEXITSTATUS(swapped) : -1);
    std::fflush(stdout);
    kill(stopped, SIGCONT);
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc > 3 && std::strcmp(argv[1], "--race-as") == 0) {
        // The stage of this probe, or with --exec a whole program.
        const bool other = argc > 5 && std::strcmp(argv[4], "--exec") == 0;
        std::vector<char *> rest;
        if (!other)
            rest.push_back(const_cast<char *>("/proc/self/exe"));
        rest.insert(rest.end(), argv + (other ? 5 : 4), argv + argc);
        rest.push_back(nullptr);
        return race(static_cast<uid_t>(std::atoi(argv[2])), argv[3], rest.data());
    }
    std::string removeAfterInit;
    bool bantam = false, failAfter = false, repair = false, dropCopies = false, keepBackup = false;
    bool initOnly = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--bantam")
            bantam = true;
        else if (a == "-g")
            gGroupUpdate = 1;
        else if (a == "--fail-after-write")
            failAfter = true;  // as a failed migration after a good write
        else if (a == "--repair")
            repair = true;
        else if (a == "--drop-copies")
            dropCopies = true;  // the copies vanish before the roll-back
        else if (a == "--lock-all" && i + 1 < argc) {
            UPDTSelectPartitionTables(bantam ? 1 : 0);
            std::printf("lockall=%d\n", UPDTLockAll(std::atoi(argv[++i])));
            return 0;
        } else if (a == "--remove-after-init" && i + 1 < argc)
            removeAfterInit = argv[++i];
        else if (a == "--keep-backup")
            keepBackup = true;
        else if (a == "--init-only")
            initOnly = true;
        else {
            std::fprintf(stderr, "unknown option %s\n", argv[i]);
            return 99;
        }
    }
    UPDTSelectPartitionTables(bantam ? 1 : 0);
    if (getcwd(gszPatchDir, sizeof(gszPatchDir)) == nullptr)
        return 98;

    if (repair) {
        std::printf("repair=%d\n", RecoverFISDirTable_Q80ZPlus_V284());
        return 0;
    }

    std::vector<FISDIRENTRY> dir;
    int n = 0;
    bool rollBack = false;
    int code;
    if (initOnly || !removeAfterInit.empty()) {
        code = UPDTFlashReadTable(dir, n);
        if (initOnly) {
            std::printf("init=%d\n", code == UPDT_OK ? 0 : -1);
            for (int i = 0; i < gPatchCount; ++i) {
                const PATCHINFO &p = gPatchInfo[i];
                std::printf("table %d %s datalen=0x%08X balance=%d update=%d\n", i, p.part, p.datalen, p.balance,
                            p.fneedupdate);
            }
            return code;
        }
        if (code == UPDT_OK) {
            std::remove(removeAfterInit.c_str());
            code = UPDTFlashWritePartitions(dir, n, rollBack);
        }
    } else {
        code = UPDTFlashStage(dir, n, rollBack);
    }
    printSteps(code);
    if (code != UPDT_OK && !rollBack)
        return code;

    for (int i = 0; i < gPatchCount; ++i) {
        const PATCHINFO &p = gPatchInfo[i];
        std::printf("entry %d %s start=0x%08X size=0x%08X datalen=0x%08X update=%d\n", i, p.part, p.start, p.size,
                    p.datalen, p.fneedupdate);
    }
    if (code == UPDT_OK && failAfter)
        code = UPDT_ERR_CONFIG;
    const std::string backup = std::string(gszPatchDir) + "/" UPDT_BACKUP_DIR;
    if (dropCopies)
        for (const auto &e : std::filesystem::directory_iterator(backup))
            std::filesystem::remove(e.path());
    bool keep = keepBackup;
    if (code != UPDT_OK && !gGroupUpdate) {
        int rc = UPDTRollBack(dir.data(), n);
        std::printf("rollback=%d\n", rc);
        keep = rc < 0;  // the copies are the only way back
    }
    if (!keep) {
        std::string cmd = "/bin/rm -rf " + VRALStrShellQuoteString(backup);
        UPDTExecute(cmd.c_str());
    }
    std::printf("code=%d\n", code);
    return code;
}
