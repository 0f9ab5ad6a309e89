#include "sandbox.h"

#include <fcntl.h>
#include <linux/ethtool.h>
#include <linux/if_tun.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/syscall.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <string>

namespace approot {
namespace {

// Owns one descriptor.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return fd_; }
    void reset(int fd = -1)
    {
        if (fd_ >= 0)
            close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

std::string sysError(const std::string &what)
{
    return what + ": " + strerror(errno);
}

volatile sig_atomic_t gSignal = 0;

void onSignal(int sig)
{
    gSignal = sig;
}

bool writeAll(int fd, const std::string &data)
{
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool writeText(const std::string &path, const std::string &text, int mode = 0644)
{
    Fd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode));
    return fd.get() >= 0 && writeAll(fd.get(), text);
}

bool mkdirs(const std::string &path, mode_t mode)
{
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            std::string part = path.substr(0, i);
            if (mkdir(part.c_str(), mode) != 0 && errno != EEXIST)
                return false;
        }
    }
    return true;
}

// ---------------------------------------------------------------- C1 side

// Setup failures inside the namespaces go back to the parent through this
// pipe; the parent prints them and exits 125.
int gErrFd = -1;

[[noreturn]] void die(const std::string &msg)
{
    writeAll(gErrFd, msg);
    _exit(kStatusSetup);
}

void copyMeta(const std::string &dst, const struct stat &st)
{
    // Ownership cannot always be kept in a user namespace; the mode can.
    if (lchown(dst.c_str(), st.st_uid, st.st_gid) != 0) {
    }
    if (!S_ISLNK(st.st_mode))
        chmod(dst.c_str(), st.st_mode & 07777);
    struct timespec ts[2] = {st.st_atim, st.st_mtim};
    utimensat(AT_FDCWD, dst.c_str(), ts, AT_SYMLINK_NOFOLLOW);
}

void copyFileData(const std::string &src, const std::string &dst)
{
    Fd in(open(src.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0)
        die(sysError("cannot read layer file " + src));
    Fd out(open(dst.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (out.get() < 0)
        die(sysError("cannot copy layer file to " + dst));
    char buf[65536];
    for (;;) {
        ssize_t n = read(in.get(), buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            die(sysError("cannot read layer file " + src));
        if (n == 0)
            break;
        if (!writeAll(out.get(), std::string(buf, static_cast<size_t>(n))))
            die(sysError("cannot copy layer file to " + dst));
    }
}

// Copies a fixture tree with its modes, owners and times.  With
// skipExisting, entries already in dst stay as they are.
void copyTree(const std::string &src, const std::string &dst, bool skipExisting)
{
    struct stat st;
    if (lstat(src.c_str(), &st) != 0)
        die(sysError("cannot read layer " + src));
    struct stat dst_st;
    bool there = lstat(dst.c_str(), &dst_st) == 0;
    if (S_ISDIR(st.st_mode)) {
        if (!there && mkdir(dst.c_str(), 0700) != 0)
            die(sysError("cannot create " + dst));
        bool listed = false;
        auto names = view::listDir(src, &listed);
        if (!listed)
            die(sysError("cannot list layer folder " + src));
        for (const auto &n : names)
            copyTree(src + "/" + n, dst + "/" + n, skipExisting);
        if (!there || !skipExisting)
            copyMeta(dst, st);
        return;
    }
    if (there) {
        if (skipExisting)
            return;
        unlink(dst.c_str());
    }
    if (S_ISREG(st.st_mode)) {
        copyFileData(src, dst);
    } else if (S_ISLNK(st.st_mode)) {
        std::string target(static_cast<size_t>(st.st_size) + 1, '\0');
        ssize_t n = readlink(src.c_str(), target.data(), target.size());
        if (n < 0)
            die(sysError("cannot read link " + src));
        target.resize(static_cast<size_t>(n));
        if (::symlink(target.c_str(), dst.c_str()) != 0)
            die(sysError("cannot create link " + dst));
    } else if (S_ISFIFO(st.st_mode)) {
        if (mkfifo(dst.c_str(), 0600) != 0)
            die(sysError("cannot create fifo " + dst));
    } else if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) {
        if (mknod(dst.c_str(), st.st_mode, st.st_rdev) != 0)
            die(sysError("cannot create device node " + dst));
    } else {
        return;  // sockets are not fixture content
    }
    copyMeta(dst, st);
}

// /proc/sys/kernel as a read-only tmpfs copy with the hardware-version
// entry added: procfs takes no new files.
void overlayKernelSysctl(const std::string &hw)
{
    const std::string top = "root/proc/sys/kernel";
    struct Item {
        bool dir;
        mode_t mode;
        std::string data;
    };
    std::map<std::string, Item> items;
    std::vector<std::string> todo = {""};
    while (!todo.empty()) {
        std::string rel = todo.back();
        todo.pop_back();
        for (const auto &n : view::listDir(top + rel)) {
            std::string r = rel + "/" + n;
            struct stat st;
            if (lstat((top + r).c_str(), &st) != 0)
                continue;
            if (S_ISDIR(st.st_mode)) {
                items[r] = {true, st.st_mode & 07777, ""};
                todo.push_back(r);
            } else if (S_ISREG(st.st_mode)) {
                std::string data;
                Fd fd(open((top + r).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
                if (fd.get() >= 0) {
                    char buf[4096];
                    ssize_t got;
                    while (data.size() < 65536 && (got = read(fd.get(), buf, sizeof buf)) > 0)
                        data.append(buf, static_cast<size_t>(got));
                }
                items[r] = {false, st.st_mode & 07777, data};
            }
        }
    }
    if (mount("tmpfs", top.c_str(), "tmpfs", MS_NOSUID | MS_NODEV | MS_NOEXEC, "mode=0555") != 0)
        die(sysError("cannot mount a tmpfs on /proc/sys/kernel"));
    for (const auto &[rel, item] : items) {  // map order: parents first
        std::string p = top + rel;
        if (item.dir) {
            if (mkdir(p.c_str(), item.mode) != 0)
                die(sysError("cannot create " + p));
            chmod(p.c_str(), item.mode);
        } else {
            if (!writeText(p, item.data, item.mode))
                die(sysError("cannot write " + p));
            chmod(p.c_str(), item.mode);
        }
    }
    std::string hwPath = top + "/vexa_hw_version";
    if (!writeText(hwPath, hw, 0444))
        die(sysError("cannot write " + hwPath));
    chmod(hwPath.c_str(), 0444);
    if (mount(nullptr, top.c_str(), nullptr, MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV | MS_NOEXEC,
              nullptr) != 0)
        die(sysError("cannot make /proc/sys/kernel read-only"));
}

// A request naming one interface.
ifreq ifreqFor(const char *name)
{
    ifreq ifr{};
    strncpy(ifr.ifr_name, name, IFNAMSIZ - 1);
    return ifr;
}

void setUp(int sock, const char *name)
{
    ifreq ifr = ifreqFor(name);
    if (ioctl(sock, SIOCGIFFLAGS, &ifr) != 0)
        die(sysError(std::string("cannot read the flags of ") + name));
    ifr.ifr_flags = static_cast<short>(ifr.ifr_flags | IFF_UP);
    if (ioctl(sock, SIOCSIFFLAGS, &ifr) != 0)
        die(sysError(std::string("cannot bring up ") + name));
}

void setUpNetwork(const SandboxOptions &opt)
{
    Fd sock(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (sock.get() < 0)
        die(sysError("cannot open a socket in the network namespace"));
    setUp(sock.get(), "lo");
    if (!opt.eth0)
        return;
    {
        Fd tun(open("/dev/net/tun", O_RDWR | O_CLOEXEC));
        if (tun.get() < 0)
            die(sysError("cannot open /dev/net/tun for eth0"));
        ifreq ifr = ifreqFor("eth0");
        ifr.ifr_flags = IFF_TAP | IFF_NO_PI;
        if (ioctl(tun.get(), TUNSETIFF, &ifr) != 0)
            die(sysError("cannot create eth0"));
        if (ioctl(tun.get(), TUNSETPERSIST, 1) != 0)
            die(sysError("cannot keep eth0"));
    }
    if (opt.eth0Mtu >= 0) {
        ifreq ifr = ifreqFor("eth0");
        ifr.ifr_mtu = opt.eth0Mtu;
        if (ioctl(sock.get(), SIOCSIFMTU, &ifr) != 0)
            die(sysError("cannot set eth0's MTU to " + std::to_string(opt.eth0Mtu)));
    }
    if (opt.eth0Speed >= 0) {
        ethtool_cmd cmd{};
        ifreq ifr = ifreqFor("eth0");
        ifr.ifr_data = reinterpret_cast<char *>(&cmd);
        cmd.cmd = ETHTOOL_GSET;
        if (ioctl(sock.get(), SIOCETHTOOL, &ifr) != 0)
            die(sysError("cannot read eth0's link settings"));
        cmd.cmd = ETHTOOL_SSET;
        ethtool_cmd_speed_set(&cmd, static_cast<__u32>(opt.eth0Speed));
        if (ioctl(sock.get(), SIOCETHTOOL, &ifr) != 0)
            die(sysError("cannot set eth0's speed to " + std::to_string(opt.eth0Speed)));
    }
    setUp(sock.get(), "eth0");
}

int eth0Mtu()
{
    Fd sock(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (sock.get() < 0)
        return -1;
    ifreq ifr = ifreqFor("eth0");
    if (ioctl(sock.get(), SIOCGIFMTU, &ifr) != 0)
        return -1;
    return ifr.ifr_mtu;
}

// A folder of the base layer, with the metadata of `model` when given (the
// host's or a layer's folder of that name), so the merged folder looks the
// same as without it.
void baseDir(const std::string &base, const std::string &inside, const std::string &model, mode_t fallback)
{
    std::string p = base + inside;
    struct stat st;
    bool have = !model.empty() && stat(model.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    if (mkdir(p.c_str(), 0755) != 0 && errno != EEXIST)
        die(sysError("cannot create " + p));
    chmod(p.c_str(), have ? (st.st_mode & 07777) : fallback);
    if (have && chown(p.c_str(), st.st_uid, st.st_gid) != 0) {
    }
}

// Folders the tool mounts on: made in the base layer when the layers and
// the host lack them, so making them never reaches the upper layer.  Stops
// at the first non-folder (a symlink is followed inside, at mount time).
void baseMountPoint(const std::string &base, const view::Stack &lower, const std::string &inside)
{
    std::string so_far;
    size_t i = 1;
    std::vector<std::pair<std::string, std::string>> chain;  // inside, model
    while (i <= inside.size()) {
        size_t j = inside.find('/', i);
        if (j == std::string::npos)
            j = inside.size();
        so_far += "/" + inside.substr(i, j - i);
        i = j + 1;
        std::string host = view::resolve(lower, so_far, false);
        struct stat st;
        if (!host.empty() && (lstat(host.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)))
            return;
        chain.push_back({so_far, host});
    }
    if (chain.empty() || !chain.back().second.empty())
        return;  // already there
    for (const auto &[in, model] : chain)
        baseDir(base, in, model, 0755);
}

// Folders above a path that others may not pass, made passable inside:
// the base layer, above the host's "/", holds each folder of the chain with
// the host's mode and owner, plus the search bits where they lack.  The
// overlay shows the base layer's mode; the host's folders stay as they are.
void baseReachable(const std::string &base, const view::Stack &lower, const std::string &inside)
{
    std::vector<std::pair<std::string, std::string>> chain;  // inside, host
    bool closed = false;
    for (size_t j = 1; j <= inside.size(); ++j) {
        if (j < inside.size() && inside[j] != '/')
            continue;
        const std::string in = inside.substr(0, j);
        const std::string host = view::resolve(lower, in, false);
        struct stat st;
        if (host.empty() || lstat(host.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            break;
        chain.push_back({in, host});
        closed = closed || (st.st_mode & 0011) != 0011;
    }
    if (!closed)
        return;
    for (const auto &[in, host] : chain) {
        baseDir(base, in, host, 0755);
        struct stat st;
        if (stat((base + in).c_str(), &st) == 0 && (st.st_mode & 0011) != 0011)
            chmod((base + in).c_str(), (st.st_mode & 07777) | 0011);
    }
}

bool mountOverlay(const std::string &target, const std::string &lowerdir, const std::string &upper,
                  const std::string &work, bool userns, bool mayFail = false)
{
    std::string data = "lowerdir=" + lowerdir + ",upperdir=" + upper + ",workdir=" + work;
    if (userns)
        data += ",userxattr";
    // No redirects or metadata-only copies: the upper layer then holds
    // whole files, which is what the change list reads.
    std::string strict = data + ",redirect_dir=off,metacopy=off,index=off";
    if (mount("overlay", target.c_str(), "overlay", 0, strict.c_str()) == 0 ||
        mount("overlay", target.c_str(), "overlay", 0, data.c_str()) == 0)
        return true;
    if (!mayFail)
        die(sysError("cannot mount the overlay (" + data + ")"));
    return false;
}

// In a user namespace the host's "/" cannot be a layer (its mounts are
// locked), so each top-level folder gets an overlay of its own, over a root
// overlay whose lowest layer is a skeleton of "/".  The upper layer keeps
// the same shape.  Folders that refuse (locked mounts inside) show only
// what the fixture layers give.
void mountSplitRoot(const std::string &fixtureLowers, const std::string &base)
{
    const std::string skel = ".layers/skel";
    if (mkdir(skel.c_str(), 0755) != 0)
        die(sysError("cannot create " + skel));
    std::vector<std::string> dirs;
    bool listed = false;
    auto names = view::listDir("/", &listed);
    if (!listed)
        die(sysError("cannot list /"));
    for (const auto &n : names) {
        struct stat st;
        std::string host = "/" + n;
        if (lstat(host.c_str(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode)) {
            baseDir(skel, host, host, 0755);
            if (n != "dev" && n != "proc" && n != "sys" && n != "tmp" &&
                n.find_first_of(":,\\") == std::string::npos)
                dirs.push_back(n);
        } else if (S_ISLNK(st.st_mode) || S_ISREG(st.st_mode)) {
            copyTree(host, skel + host, false);
        }
    }
    // The upper folders exist before the root overlay looks at them.
    std::vector<std::string> split;
    for (const auto &n : dirs) {
        struct stat st;
        std::string upper = "upper/" + n;
        if (lstat(upper.c_str(), &st) != 0)
            baseDir("upper", "/" + n, "/" + n, 0755);
        else if (!S_ISDIR(st.st_mode))
            continue;  // replaced by a file in an earlier run
        std::string work = ".work-split/" + n;
        if (!mkdirs(work, 0755))
            die(sysError("cannot create " + work));
        split.push_back(n);
    }
    mountOverlay("root", fixtureLowers + base + ":" + skel, "upper", "work", true);
    for (const auto &n : split) {
        std::string lower;
        for (const std::string &layer : {fixtureLowers, base + ":"}) {
            size_t i = 0;
            while (i < layer.size()) {
                size_t j = layer.find(':', i);
                std::string l = layer.substr(i, j - i) + "/" + n;
                struct stat st;
                if (lstat(l.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
                    lower += l + ":";
                i = j + 1;
            }
        }
        lower += "/" + n;
        mountOverlay("root/" + n, lower, "upper/" + n, ".work-split/" + n, true, true);
    }
}

[[noreturn]] void execCommand(const SandboxOptions &opt)
{
    if (chdir(opt.cwd.c_str()) != 0)
        die(sysError("cannot change into " + opt.cwd + " inside the root"));
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int sig = 1; sig < NSIG; ++sig)
        signal(sig, SIG_DFL);
    clearenv();
    for (const auto &[k, v] : opt.env)
        setenv(k.c_str(), v.c_str(), 1);
    std::vector<char *> args;
    for (const auto &a : opt.argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    close(gErrFd);  // the command runs: nothing more to report
    execvp(args[0], args.data());
    int e = errno;
    std::string msg = "approot: cannot run " + opt.argv[0] + ": " + strerror(e) + "\n";
    writeAll(2, msg);
    _exit(e == ENOENT ? 127 : 126);
}

constexpr char kSysCpu[] = "/sys/devices/system/cpu";

[[noreturn]] void childMain(const SandboxOptions &opt, int dirFd, bool userns)
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        signal(sig, SIG_DFL);
    if (unshare(CLONE_NEWNS | CLONE_NEWNET | CLONE_NEWIPC | CLONE_NEWUTS) != 0)
        die(sysError("cannot enter new mount and network namespaces"));
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        die(sysError("cannot make the mounts private"));
    // By path: a descriptor from before the unshare still points into the
    // host's mounts, which mount() refuses as targets.
    if (chdir(opt.dir.c_str()) != 0)
        die(sysError("cannot change into " + opt.dir));

    // Lower layers must not lie below one another: the host's "/" holds the
    // scratch folder, so the fixture layers are copied onto a tmpfs first.
    if (mount("tmpfs", ".layers", "tmpfs", MS_NOSUID, "mode=0755") != 0)
        die(sysError("cannot mount the layer tmpfs"));
    std::string lowerdir;
    for (size_t i = 0; i < opt.layers.size(); ++i) {
        std::string dst = ".layers/" + std::to_string(i);
        copyTree(opt.layers[i], dst, false);
        lowerdir += dst + ":";
    }
    const std::string base = ".layers/base";
    if (mkdir(base.c_str(), 0755) != 0)
        die(sysError("cannot create " + base));
    baseDir(base, "/dev", "/dev", 0755);
    baseDir(base, "/proc", "/proc", 0555);
    baseDir(base, "/tmp", "/tmp", 01777);
    const char *opaque = userns ? "user.overlay.opaque" : "trusted.overlay.opaque";
    if (setxattr((base + "/tmp").c_str(), opaque, "y", 1, 0) != 0)
        die(sysError("cannot hide the host's /tmp"));
    view::Stack lower = view::stackFor(opt.dir, opt.layers, {});
    lower.upper.clear();
    lower.mounts.clear();
    for (const auto &r : opt.reach)
        baseReachable(base, lower, r);
    for (const auto &b : opt.binds)
        baseMountPoint(base, lower, b.inside);
    // The appliance has "/sys": programs (the C library's CPU count among
    // them) read its CPU folder, shown read-only from the host.
    std::vector<view::Mount> binds = opt.binds;
    struct stat cpuSt;
    if (stat(kSysCpu, &cpuSt) == 0 && S_ISDIR(cpuSt.st_mode)) {
        for (const char *in : {"/sys", "/sys/devices", "/sys/devices/system", kSysCpu})
            baseDir(base, in, "", 0755);
        binds.push_back({kSysCpu, kSysCpu, true});
    }
    if (userns)
        mountSplitRoot(lowerdir, base);
    else
        mountOverlay("root", lowerdir + base + ":/", "upper", "work", false);

    if (mount("dev", "root/dev", nullptr, MS_BIND, nullptr) != 0)
        die(sysError("cannot bind the appliance's /dev"));
    for (const char *node : {"null", "zero", "full", "random", "urandom", "tty"}) {
        std::string host = std::string("/dev/") + node;
        std::string in = std::string("root/dev/") + node;
        if (mount(host.c_str(), in.c_str(), nullptr, MS_BIND, nullptr) != 0)
            die(sysError("cannot bind " + host));
    }
    if (mount("tmpfs", "root/dev/shm", "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777") != 0)
        die(sysError("cannot mount /dev/shm"));
    // Pseudo terminals are a convenience: not every kernel lets us have them.
    mount("devpts", "root/dev/pts", "devpts", MS_NOSUID | MS_NOEXEC, "newinstance,ptmxmode=0666,mode=0620");

    if (mount("proc", "root/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0)
        die(sysError("cannot mount /proc"));
    if (opt.hasHw)
        overlayKernelSysctl(opt.hw);

    // Bound folders are attached after the chroot so that their inside
    // paths resolve as the command will see them, parents first so that
    // none hides another.  A read-only one comes without the mounts below
    // it: the build tree holds this very root.
    std::stable_sort(binds.begin(), binds.end(),
                     [](const view::Mount &a, const view::Mount &b) { return a.inside.size() < b.inside.size(); });
    std::vector<int> trees;
    for (const auto &b : binds) {
        int t = open_tree(AT_FDCWD, b.host.c_str(),
                          OPEN_TREE_CLONE | OPEN_TREE_CLOEXEC | (b.readOnly ? 0 : AT_RECURSIVE));
        if (t < 0)
            die(sysError("cannot take " + b.host + " for binding"));
        mount_attr ro{};
        ro.attr_set = MOUNT_ATTR_RDONLY;
        if (b.readOnly && mount_setattr(t, "", AT_EMPTY_PATH, &ro, sizeof ro) != 0)
            die(sysError("cannot make " + b.host + " read-only"));
        trees.push_back(t);
    }

    setUpNetwork(opt);

    if (chroot("root") != 0 || chdir("/") != 0)
        die(sysError("cannot enter the root"));
    for (size_t i = 0; i < trees.size(); ++i) {
        const std::string &in = binds[i].inside;
        if (move_mount(trees[i], "", AT_FDCWD, in.c_str(), MOVE_MOUNT_F_EMPTY_PATH) != 0)
            die(sysError("cannot bind " + binds[i].host + " at " + in));
        close(trees[i]);
    }

    pid_t cmd = fork();
    if (cmd < 0)
        die(sysError("cannot fork the command"));
    if (cmd == 0)
        execCommand(opt);
    close(gErrFd);
    gErrFd = -1;

    // As the namespace's init: reap everything, end when the command does.
    int status = 0;
    for (;;) {
        int st;
        pid_t p = waitpid(-1, &st, 0);
        if (p < 0 && errno == EINTR)
            continue;
        if (p < 0)
            break;
        if (p == cmd) {
            status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
            break;
        }
    }
    Fd mtu(openat(dirFd, "eth0_mtu_after", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (mtu.get() >= 0)
        writeAll(mtu.get(), std::to_string(eth0Mtu()) + "\n");
    _exit(status);
}

// ---------------------------------------------------------------- P side

// Records one datagram as one line: trailing newlines and NULs dropped,
// other control characters written as #ooo.
std::string logLine(const char *buf, size_t n)
{
    while (n > 0 && (buf[n - 1] == '\n' || buf[n - 1] == '\0'))
        --n;
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(buf[i]);
        if (c < 0x20 || c == 0x7f) {
            char esc[8];
            snprintf(esc, sizeof esc, "#%03o", c);
            out += esc;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\n";
}

void drainLog(int sock, int logFd)
{
    static char buf[65536];
    for (;;) {
        ssize_t n = recv(sock, buf, sizeof buf, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return;
        writeAll(logFd, logLine(buf, static_cast<size_t>(n)));
    }
}

bool prepareDev(const std::string &dev, std::string &err)
{
    if (!mkdirs(dev, 0755)) {
        err = sysError("cannot create " + dev);
        return false;
    }
    for (const char *node : {"null", "zero", "full", "random", "urandom", "tty", "console"}) {
        std::string p = dev + "/" + node;
        int fd = open(p.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0) {
            err = sysError("cannot create " + p);
            return false;
        }
        fchmod(fd, 0666);
        close(fd);
    }
    for (const char *d : {"shm", "pts"})
        mkdir((dev + "/" + d).c_str(), 0755);
    chmod((dev + "/shm").c_str(), 01777);
    const std::pair<const char *, const char *> links[] = {{"fd", "/proc/self/fd"},
                                                           {"stdin", "/proc/self/fd/0"},
                                                           {"stdout", "/proc/self/fd/1"},
                                                           {"stderr", "/proc/self/fd/2"},
                                                           {"ptmx", "pts/ptmx"}};
    for (const auto &[name, target] : links)
        if (::symlink(target, (dev + "/" + name).c_str()) != 0 && errno != EEXIST) {
            err = sysError("cannot create " + dev + "/" + name);
            return false;
        }
    return true;
}

// Fixture content under a layer's /dev goes into the appliance's /dev
// folder, which the mount hides the layers' /dev behind.
void copyLayerDev(const SandboxOptions &opt)
{
    for (const auto &layer : opt.layers) {
        struct stat st;
        std::string src = layer + "/dev";
        if (lstat(src.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            for (const auto &n : view::listDir(src))
                copyTree(src + "/" + n, opt.dir + "/dev/" + n, true);
    }
}

bool setClock(long uptime, std::string &err)
{
    std::string text;
    for (auto [name, id] : {std::pair{"monotonic", CLOCK_MONOTONIC}, std::pair{"boottime", CLOCK_BOOTTIME}}) {
        struct timespec now;
        clock_gettime(id, &now);
        long long off = static_cast<long long>(uptime) * 1000000000LL -
                        (static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
        long long sec = off / 1000000000LL;
        long long nsec = off % 1000000000LL;
        if (nsec < 0) {
            nsec += 1000000000LL;
            sec -= 1;
        }
        text += std::string(name) + " " + std::to_string(sec) + " " + std::to_string(nsec) + "\n";
    }
    Fd fd(open("/proc/self/timens_offsets", O_WRONLY | O_CLOEXEC));
    if (fd.get() < 0 || !writeAll(fd.get(), text)) {
        err = sysError("cannot set the uptime");
        return false;
    }
    return true;
}

bool enterUserNamespace(std::string &err)
{
    uid_t uid = getuid();
    gid_t gid = getgid();
    if (unshare(CLONE_NEWUSER) != 0) {
        err = sysError("cannot enter a user namespace");
        return false;
    }
    if (!writeText("/proc/self/setgroups", "deny") ||
        !writeText("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1\n") ||
        !writeText("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1\n")) {
        err = sysError("cannot map the user namespace");
        return false;
    }
    return true;
}

}  // namespace

int runSandbox(const SandboxOptions &opt)
{
    auto fail = [](const std::string &msg) {
        fprintf(stderr, "approot: %s\n", msg.c_str());
        return kStatusSetup;
    };
    std::string err;
    for (const char *sub : {"upper", "work", "root", ".layers"})
        if (!mkdirs(opt.dir + "/" + sub, 0755))
            return fail(sysError("cannot create " + opt.dir + "/" + sub));
    if (!prepareDev(opt.dir + "/dev", err))
        return fail(err);
    Fd dirFd(open(opt.dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    Fd devFd(open((opt.dir + "/dev").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    Fd cwdFd(open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.get() < 0 || devFd.get() < 0 || cwdFd.get() < 0)
        return fail(sysError("cannot open " + opt.dir));
    Fd logFd(openat(dirFd.get(), "syslog", O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    if (logFd.get() < 0)
        return fail(sysError("cannot create " + opt.dir + "/syslog"));
    unlinkat(dirFd.get(), "eth0_mtu_after", 0);

    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        return fail(sysError("cannot make a pipe"));
    Fd errRead(pipeFds[0]);
    gErrFd = pipeFds[1];
    // Before the user namespace: copying owners needs the host's ids.
    {
        pid_t p = fork();
        if (p == 0) {
            copyLayerDev(opt);
            _exit(0);
        }
        int st = 0;
        waitpid(p, &st, 0);
    }
    {
        char buf[4096];
        if (fcntl(errRead.get(), F_SETFL, O_NONBLOCK) == 0) {
            ssize_t n = read(errRead.get(), buf, sizeof buf);
            fcntl(errRead.get(), F_SETFL, 0);
            if (n > 0)
                return fail(std::string(buf, static_cast<size_t>(n)));
        }
    }

    // The system log: a datagram socket that shows up as /dev/log inside.
    // Bound by a relative name, as the scratch path may be long.
    unlinkat(devFd.get(), "log", 0);
    Fd sock(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (sock.get() < 0)
        return fail(sysError("cannot open the log socket"));
    {
        int size = 1 << 20;
        setsockopt(sock.get(), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        strcpy(addr.sun_path, "log");
        if (fchdir(devFd.get()) != 0)
            return fail(sysError("cannot change into " + opt.dir + "/dev"));
        int rc = bind(sock.get(), reinterpret_cast<sockaddr *>(&addr), sizeof addr);
        int e = errno;
        if (fchdir(cwdFd.get()) != 0) {
        }
        errno = e;
        if (rc != 0)
            return fail(sysError("cannot bind " + opt.dir + "/dev/log"));
        fchmodat(devFd.get(), "log", 0666, 0);
    }

    bool userns = getuid() != 0;
    if (userns && !enterUserNamespace(err))
        return fail(err);
    // The namespaces for the child are undone in this process after the
    // fork: with them pending it could not start threads (a sanitizer's
    // leak check needs one at exit).
    Fd ownPid(open("/proc/self/ns/pid", O_RDONLY | O_CLOEXEC));
    Fd ownTime(open("/proc/self/ns/time", O_RDONLY | O_CLOEXEC));
    if (unshare(CLONE_NEWPID | (opt.hasUptime ? CLONE_NEWTIME : 0)) != 0)
        return fail(sysError("cannot make pid and time namespaces"));
    if (opt.hasUptime && !setClock(opt.uptime, err))
        return fail(err);

    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaction(sig, &sa, nullptr);

    pid_t child = fork();
    if (child < 0)
        return fail(sysError("cannot fork"));
    if (child == 0)
        childMain(opt, dirFd.get(), userns);
    bool restored = ownPid.get() >= 0 && setns(ownPid.get(), CLONE_NEWPID) == 0;
    if (opt.hasUptime)
        restored = restored && ownTime.get() >= 0 && setns(ownTime.get(), CLONE_NEWTIME) == 0;
    // In a user namespace the way back is refused: no thread can start
    // here any more, so this process ends without exit-time hooks.
    auto finish = [restored](int status) {
        if (!restored) {
            fflush(stdout);
            fflush(stderr);
            _exit(status);
        }
        return status;
    };
    close(gErrFd);
    gErrFd = -1;

    Fd pidFd(static_cast<int>(syscall(SYS_pidfd_open, child, 0)));
    struct timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    std::string setupError;
    bool timedOut = false;
    int killedBy = 0;
    bool errOpen = true;
    for (;;) {
        if (gSignal != 0 && killedBy == 0) {
            killedBy = gSignal;
            kill(child, SIGKILL);
        }
        int waitMs = -1;
        if (opt.timeout > 0 && !timedOut && killedBy == 0) {
            struct timespec now;
            clock_gettime(CLOCK_MONOTONIC, &now);
            long long elapsed = (now.tv_sec - start.tv_sec) * 1000LL + (now.tv_nsec - start.tv_nsec) / 1000000;
            long long left = opt.timeout * 1000LL - elapsed;
            if (left <= 0) {
                timedOut = true;
                kill(child, SIGKILL);
                continue;
            }
            waitMs = static_cast<int>(left);
        }
        struct pollfd fds[3] = {{sock.get(), POLLIN, 0},
                                {pidFd.get(), POLLIN, 0},
                                {errOpen ? errRead.get() : -1, POLLIN, 0}};
        int n = poll(fds, 3, pidFd.get() >= 0 ? waitMs : 50);
        if (n < 0 && errno == EINTR)
            continue;
        if (fds[0].revents & POLLIN)
            drainLog(sock.get(), logFd.get());
        if (errOpen && (fds[2].revents & (POLLIN | POLLHUP))) {
            char buf[4096];
            ssize_t got = read(errRead.get(), buf, sizeof buf);
            if (got > 0)
                setupError.append(buf, static_cast<size_t>(got));
            else
                errOpen = false;
        }
        bool done = pidFd.get() >= 0 ? (fds[1].revents & POLLIN) != 0
                                      : waitpid(child, nullptr, WNOHANG | WNOWAIT) == child;
        if (done)
            break;
    }
    int st = 0;
    while (waitpid(child, &st, 0) < 0 && errno == EINTR) {
    }
    drainLog(sock.get(), logFd.get());
    if (errOpen) {
        char buf[4096];
        ssize_t got;
        while ((got = read(errRead.get(), buf, sizeof buf)) > 0)
            setupError.append(buf, static_cast<size_t>(got));
    }
    unlinkat(devFd.get(), "log", 0);

    if (killedBy != 0) {
        fprintf(stderr, "approot: stopped by signal %d\n", killedBy);
        return finish(128 + killedBy);
    }
    if (timedOut) {
        fprintf(stderr, "approot: command timed out after %d s: %s\n", opt.timeout, opt.argv[0].c_str());
        return finish(kStatusTimeout);
    }
    if (!setupError.empty())
        return finish(fail(setupError));
    if (WIFEXITED(st))
        return finish(WEXITSTATUS(st));
    return finish(128 + WTERMSIG(st));
}

}  // namespace approot
