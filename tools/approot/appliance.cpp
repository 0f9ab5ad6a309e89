#include "approot.h"
#include "overlay_view.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#ifndef APPROOT_BIN
#error "APPROOT_BIN must be defined by the build"
#endif
#ifndef APPROOT_BUILD_DIR
#error "APPROOT_BUILD_DIR must be defined by the build"
#endif

#ifdef APPROOT_COVERAGE
extern "C" void __gcov_dump(void);
#endif

namespace approot {
namespace {

[[noreturn]] void raise(const std::string &what)
{
    throw std::runtime_error("approot: " + what + ": " + strerror(errno));
}

std::string slurp(const std::string &path, bool &ok)
{
    std::ifstream in(path, std::ios::binary);
    ok = static_cast<bool>(in);
    std::stringstream ss;
    if (ok)
        ss << in.rdbuf();
    return ss.str();
}

std::string checkedInside(const std::string &inside)
{
    if (inside.empty() || inside[0] != '/')
        throw std::runtime_error("approot: inside path must be absolute: " + inside);
    return view::normalise(inside);
}

// Absolute form of a host folder given to the appliance; raises when it is none.
std::string hostFolder(const std::string &hostDir, const std::string &what)
{
    struct stat st;
    if (stat(hostDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        raise(what + " " + hostDir + " is not a folder");
    return std::filesystem::absolute(hostDir).lexically_normal().string();
}

bool isDevPath(const std::string &p)
{
    return p == "/dev" || p.rfind("/dev/", 0) == 0;
}

// The view the tool builds for these layers and bound folders.
template <typename Bound>
view::Stack stackOf(const std::string &dir, const std::vector<std::string> &layers,
                    const std::vector<Bound> &binds)
{
    std::vector<view::Mount> mounts;
    for (const auto &b : binds)
        mounts.push_back({b.inside, b.host, b.readOnly});
    return view::stackFor(dir, layers, mounts);
}

bool isBelow(const std::string &path, const std::string &folder)
{
    return path == folder || path.rfind(folder + "/", 0) == 0;
}

bool onMountPoint(const std::string &path)
{
    struct stat self, parent;
    if (lstat(path.c_str(), &self) != 0 || lstat((path + "/..").c_str(), &parent) != 0)
        return false;
    return self.st_dev != parent.st_dev;
}

#ifdef APPROOT_COVERAGE
const char kCoverageInside[] = "/run/vexa-coverage";
#endif

}  // namespace

void flushCoverage()
{
#ifdef APPROOT_COVERAGE
    __gcov_dump();
#endif
}

std::string Appliance::toolPath()
{
    return APPROOT_BIN;
}

Appliance::Appliance(const std::string &tag)
{
    std::string base = std::string(APPROOT_BUILD_DIR) + "/testtmp";
    std::filesystem::create_directories(base);
    std::string name = tag.empty() ? "appliance" : tag;
    for (char &c : name)
        if (c == '/' || c == ' ')
            c = '_';
    std::string tmpl = base + "/" + name + ".XXXXXX";
    if (mkdtemp(tmpl.data()) == nullptr)
        raise("cannot create a scratch folder under " + base);
    dir_ = tmpl;
    chmod(dir_.c_str(), 0755);
    if (::mkdir((dir_ + "/layer").c_str(), 0755) != 0)
        raise("cannot create " + dir_ + "/layer");
    layers_.push_back(dir_ + "/layer");
    // The programs under test must be reachable inside wherever the build
    // lies, also in a folder whose host content the root hides.
    const std::string build = view::normalise(APPROOT_BUILD_DIR);
    for (const auto &hidden : view::stackFor(dir_, {}, {}).hiddenOnHost)
        if (isBelow(build, hidden))
            binds_.push_back({build, build, true});
    reach(build);
#ifdef APPROOT_COVERAGE
    // Coverage counters of what runs inside go to the build tree, shown
    // read-write at a path of its own: the root's overlay would keep them.
    binds_.push_back({build, kCoverageInside, false});
    setEnv("GCOV_PREFIX", kCoverageInside);
    setEnv("GCOV_PREFIX_STRIP", std::to_string(std::count(build.begin(), build.end(), '/')));
#endif
}

Appliance::~Appliance()
{
    if (getenv("VEXA_KEEP_TMP") != nullptr || dir_.empty())
        return;
    // The runs' mounts live in namespaces that are gone by now; never walk
    // into one that somehow is not.
    for (const char *sub : {"/root", "/.layers"})
        if (onMountPoint(dir_ + sub))
            return;
    std::error_code ec;
    if (std::filesystem::remove_all(dir_, ec) != static_cast<std::uintmax_t>(-1) && !ec)
        return;
    // Without root, the overlay's work folders are left without permissions.
    namespace fs = std::filesystem;
    for (auto it = fs::recursive_directory_iterator(dir_, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::permissions(dir_ + "/work/work", fs::perms::owner_all, fs::perm_options::add, ec);
    ec.clear();
    fs::remove_all(dir_, ec);
}

const std::string &Appliance::dir() const
{
    return dir_;
}

std::string Appliance::layerPath(const std::string &inside) const
{
    return fixturePath(inside, false);
}

std::string Appliance::fixturePath(const std::string &inside, bool keepDir) const
{
    std::string p = checkedInside(inside);
    // A fixture written after a run must show through what the runs left.
    if (!isDevPath(p))
        view::dropUpper(stackOf(dir_, layers_, binds_), p, keepDir);
    std::string root = isDevPath(p) ? dir_ : dir_ + "/layer";
    // Parents take the host folder's mode (a layer's /tmp must stay 1777).
    std::string sofar;
    size_t i = 1;
    while (true) {
        size_t j = p.find('/', i);
        if (j == std::string::npos)
            break;
        sofar = p.substr(0, j);
        std::string host = root + sofar;
        struct stat st;
        if (lstat(host.c_str(), &st) != 0) {
            mode_t mode = 0755;
            struct stat hst;
            if (stat(sofar.c_str(), &hst) == 0 && S_ISDIR(hst.st_mode))
                mode = hst.st_mode & 07777;
            if (::mkdir(host.c_str(), 0700) != 0 && errno != EEXIST)
                raise("cannot create " + host);
            chmod(host.c_str(), mode);
        }
        i = j + 1;
    }
    return p == "/" ? root : root + p;
}

void Appliance::writeFile(const std::string &inside, const std::string &content, int mode)
{
    std::string host = layerPath(inside);
    unlink(host.c_str());
    std::ofstream out(host, std::ios::binary | std::ios::trunc);
    if (!out)
        raise("cannot write " + host);
    out << content;
    out.close();
    if (!out)
        raise("cannot write " + host);
    chmod(host.c_str(), static_cast<mode_t>(mode));
}

void Appliance::mkdir(const std::string &inside, int mode)
{
    std::string host = fixturePath(inside, true);
    if (::mkdir(host.c_str(), 0700) != 0 && errno != EEXIST)
        raise("cannot create " + host);
    chmod(host.c_str(), static_cast<mode_t>(mode));
}

void Appliance::symlink(const std::string &target, const std::string &inside)
{
    std::string host = layerPath(inside);
    unlink(host.c_str());
    if (::symlink(target.c_str(), host.c_str()) != 0)
        raise("cannot create link " + host);
}

void Appliance::addLayer(const std::string &hostDir)
{
    layers_.push_back(hostFolder(hostDir, "layer"));
}

void Appliance::bind(const std::string &hostDir, const std::string &inside)
{
    binds_.push_back({hostFolder(hostDir, "bound folder"), checkedInside(inside), false});
}

void Appliance::reach(const std::string &inside)
{
    reach_.push_back(checkedInside(inside));
}

void Appliance::bindReadOnly(const std::string &hostDir, const std::string &inside)
{
    binds_.push_back({hostFolder(hostDir, "bound folder"), checkedInside(inside), true});
}

void Appliance::setEnv(const std::string &key, const std::string &value)
{
    for (auto &e : env_)
        if (e.first == key) {
            e.second = value;
            return;
        }
    env_.push_back({key, value});
}

void Appliance::setEth0(int mtu, int speedMbps)
{
    eth0Mtu_ = mtu;
    eth0Speed_ = speedMbps;
}

void Appliance::setUptime(long seconds)
{
    hasUptime_ = true;
    uptime_ = seconds;
}

void Appliance::setHwVersion(const std::string &text)
{
    hasHw_ = true;
    hw_ = text;
}

void Appliance::setTimeout(int seconds)
{
    timeout_ = seconds;
}

std::vector<std::string> Appliance::commonArgs() const
{
    std::vector<std::string> a = {"--dir", dir_};
    for (const auto &l : layers_)
        a.insert(a.end(), {"--layer", l});
    for (const auto &b : binds_)
        a.insert(a.end(), {b.readOnly ? "--bind-ro" : "--bind", b.host + ":" + b.inside});
    for (const auto &r : reach_)
        a.insert(a.end(), {"--reach", r});
    return a;
}

RunResult Appliance::run(const std::vector<std::string> &argv, const std::string &cwd)
{
    std::vector<std::string> a = commonArgs();
    if (eth0Mtu_ >= 0)
        a.insert(a.end(), {"--eth0-mtu", std::to_string(eth0Mtu_)});
    if (eth0Speed_ >= 0)
        a.insert(a.end(), {"--eth0-speed", std::to_string(eth0Speed_)});
    if (hasUptime_)
        a.insert(a.end(), {"--uptime", std::to_string(uptime_)});
    if (hasHw_)
        a.push_back("--hw-version=" + hw_);
    // Pauses cost no time inside: the stand-in records them instead.
    std::string preload = NOSLEEP_LIB_PATH;
    a.push_back("--env=VEXA_PAUSE_LOG=/dev/pauses");
    for (const auto &[k, v] : env_) {
        if (k == "LD_PRELOAD")
            preload += ":" + v;
        else
            a.push_back("--env=" + k + "=" + v);
    }
    a.push_back("--env=LD_PRELOAD=" + preload);
    a.insert(a.end(), {"--cwd", cwd, "--timeout", std::to_string(timeout_), "--"});
    a.insert(a.end(), argv.begin(), argv.end());

    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0)
        raise("cannot make a pipe");
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        close(outPipe[0]);
        close(outPipe[1]);
        raise("cannot make a pipe");
    }
    std::vector<char *> args;
    std::string tool = toolPath();
    args.push_back(tool.data());
    for (auto &s : a)
        args.push_back(s.data());
    args.push_back(nullptr);

    pid_t pid = fork();
    if (pid < 0)
        raise("cannot fork");
    if (pid == 0) {
        int in = open("/dev/null", O_RDONLY);
        if (in < 0 || dup2(in, 0) < 0 || dup2(outPipe[1], 1) < 0 || dup2(errPipe[1], 2) < 0)
            _exit(125);
        execv(args[0], args.data());
        const char msg[] = "approot: cannot start the tool\n";
        if (write(2, msg, sizeof msg - 1) < 0) {
        }
        _exit(125);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    RunResult r{0, "", ""};
    struct pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int open_count = 2;
    while (open_count > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (int k = 0; k < 2; ++k) {
            if (fds[k].fd < 0 || (fds[k].revents & (POLLIN | POLLHUP | POLLERR)) == 0)
                continue;
            char buf[65536];
            ssize_t n = read(fds[k].fd, buf, sizeof buf);
            if (n > 0) {
                (k == 0 ? r.out : r.err).append(buf, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                close(fds[k].fd);
                fds[k].fd = -1;
                --open_count;
            }
        }
    }
    for (auto &f : fds)
        if (f.fd >= 0)
            close(f.fd);
    int st = 0;
    while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
    }
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    return r;
}

std::vector<Change> Appliance::changes() const
{
    return view::changes(stackOf(dir_, layers_, binds_));
}

std::vector<std::string> Appliance::syslog() const
{
    return linesOf(dir_ + "/syslog");
}

std::vector<std::string> Appliance::pauses() const
{
    return linesOf(dir_ + "/dev/pauses");
}

void Appliance::clearPauses()
{
    std::ofstream(dir_ + "/dev/pauses", std::ios::trunc);
}

std::vector<std::string> Appliance::linesOf(const std::string &path)
{
    bool ok;
    std::string all = slurp(path, ok);
    std::vector<std::string> lines;
    std::istringstream in(all);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

void Appliance::clearSyslog()
{
    std::ofstream(dir_ + "/syslog", std::ios::trunc);
}

std::string Appliance::console() const
{
    bool ok;
    return slurp(dir_ + "/dev/console", ok);
}

std::string Appliance::readFile(const std::string &inside) const
{
    std::string host = view::resolve(stackOf(dir_, layers_, binds_), checkedInside(inside));
    if (host.empty())
        throw std::runtime_error("approot: no " + inside + " in the appliance");
    bool ok;
    std::string data = slurp(host, ok);
    if (!ok)
        throw std::runtime_error("approot: cannot read " + inside + " (" + host + ")");
    return data;
}

bool Appliance::exists(const std::string &inside) const
{
    return !view::resolve(stackOf(dir_, layers_, binds_), checkedInside(inside)).empty();
}

int Appliance::eth0MtuAfterRun() const
{
    bool ok;
    std::string text = slurp(dir_ + "/eth0_mtu_after", ok);
    if (!ok || text.empty())
        return -1;
    return atoi(text.c_str());
}

}  // namespace approot
