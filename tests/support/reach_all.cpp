#include "reach_all.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "test_tmp.h"

namespace vexatest {

bool reachFromEveryUser(const std::string &path)
{
    // The first folder on the way that others may not pass.
    std::string closed;
    for (size_t j = 1; j <= path.size() && closed.empty(); ++j) {
        if (j < path.size() && path[j] != '/')
            continue;
        struct stat st;
        if (stat(path.substr(0, j).c_str(), &st) != 0)
            return false;
        if ((st.st_mode & 0011) != 0011)
            closed = path.substr(0, j);
    }
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return false;
    if (closed.empty())
        return true;
    const int tree = open_tree(AT_FDCWD, path.c_str(), OPEN_TREE_CLONE | OPEN_TREE_CLOEXEC | AT_RECURSIVE);
    if (tree < 0)
        return false;
    bool ok = mount("tmpfs", closed.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755") == 0;
    std::error_code ec;
    if (ok)
        std::filesystem::create_directories(path, ec);
    ok = ok && !ec && move_mount(tree, "", AT_FDCWD, path.c_str(), MOVE_MOUNT_F_EMPTY_PATH) == 0;
    const int e = errno;
    close(tree);
    errno = e;
    return ok;
}

ShellRun runWithBuildReachable(const std::string &command)
{
    TempDir tmp("reach");
    const std::string out = tmp / "out", err = tmp / "err";
    const pid_t pid = fork();
    if (pid == 0) {
        const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (o < 0 || e < 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0)
            _exit(96);
        if (!reachFromEveryUser(VEXA_BINARY_DIR)) {
            perror("cannot open the way to the build tree");
            _exit(97);
        }
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    int st = 0;
    while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
    }
    return {WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st), readFile(out), readFile(err)};
}

}  // namespace vexatest
