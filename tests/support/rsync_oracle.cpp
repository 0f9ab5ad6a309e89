#include "rsync_oracle.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace vexatest {

namespace {

constexpr char kRsync[] = "/usr/bin/rsync";

std::string replaceAll(std::string text, const std::string &from, const std::string &to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

pid_t spawn(const std::vector<std::string> &args, const std::vector<std::string> &env, int in, int out, int err)
{
    std::vector<char *> argv, envp;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    for (const std::string &e : env)
        envp.push_back(const_cast<char *>(e.c_str()));
    envp.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        for (int fd = 3; fd < 1024; ++fd)
            close(fd);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    return pid;
}

int exitCode(pid_t pid)
{
    int st = 0;
    if (waitpid(pid, &st, 0) != pid)
        return -1;
    return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

}  // namespace

RsyncOracle::RsyncOracle(const std::string &conf, const std::string &secrets, int secretsMode,
                         const std::string &modulePath)
{
    if (access(kRsync, X_OK) != 0)
        ADD_FAILURE() << kRsync << " is missing: scripts/setup installs it";
    const std::string module = dir_ / "module";
    mkdir(module.c_str(), 0755);
    writeFile(dir_ / "module/data", "data\n");
    writeFile(dir_ / "rsyncd.secrets", secrets, secretsMode);
    // As written, but the files and folders are the scratch copies; the
    // global lines first, so that the copy's own lines still win.
    std::string text = "use chroot = no\nuid = root\ngid = root\nstrict modes = yes\n";
    text += "lock file = " + (dir_ / "rsyncd.lock") + "\nlog file = " + (dir_ / "rsyncd.log") + "\n";
    text += replaceAll(replaceAll(conf, "/etc/rsyncd.secrets", dir_ / "rsyncd.secrets"), modulePath, module);
    confPath_ = dir_ / "rsyncd.conf";
    writeFile(confPath_, text, 0600);
}

RsyncOracle::Result RsyncOracle::list(const std::string &module, const std::string &user, const std::string &secret)
{
    Result r;
    const int lfd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (lfd < 0 || bind(lfd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || listen(lfd, 1) != 0 ||
        getsockname(lfd, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
        ADD_FAILURE() << "cannot listen on 127.0.0.1: " << strerror(errno);
        if (lfd >= 0)
            close(lfd);
        return r;
    }
    const std::string url =
        "rsync://" + user + "@127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/" + module + "/";
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        close(lfd);
        return r;
    }
    const int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
    const pid_t client = spawn({kRsync, "--list-only", url},
                               {"PATH=/usr/bin:/bin", "HOME=/nonexistent", "RSYNC_PASSWORD=" + secret}, devNull,
                               pipeFds[1], pipeFds[1]);
    close(pipeFds[1]);
    // The client connects, or ends without connecting.
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, client, 0));
    pollfd fds[2] = {{lfd, POLLIN, 0}, {pidfd, POLLIN, 0}};
    pid_t daemon = -1;
    if (pidfd >= 0 && poll(fds, 2, -1) > 0 && (fds[0].revents & POLLIN) != 0) {
        const int conn = accept4(lfd, nullptr, nullptr, SOCK_CLOEXEC);
        if (conn >= 0) {
            daemon = spawn({kRsync, "--daemon", "--no-detach", "--config=" + confPath_}, {"PATH=/usr/bin:/bin"},
                           conn, conn, devNull);
            close(conn);
        }
    }
    close(lfd);
    if (pidfd >= 0)
        close(pidfd);
    char buf[4096];
    ssize_t n;
    while ((n = read(pipeFds[0], buf, sizeof buf)) > 0)
        r.out.append(buf, static_cast<size_t>(n));
    close(pipeFds[0]);
    close(devNull);
    r.status = exitCode(client);
    if (daemon > 0) {
        // its session is over with the client's; a daemon still there is
        // stopped by its pid
        kill(daemon, SIGTERM);
        exitCode(daemon);
    }
    return r;
}

}  // namespace vexatest
