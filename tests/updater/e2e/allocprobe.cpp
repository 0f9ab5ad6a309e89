// Runs the whole updater again and again inside one appliance root, each
// time with one more of its allocations failing, and reports what each run
// left:
//
//   allocprobe <program path the updater is run as>
//
// Before each run the chip, the simulated kernel's state (fault counters
// included) and its request log, "/etc/vexainfo.conf" and the package folder's b@ckup are put
// back as they were.  Run 0 fails nothing.  One line per run:
//   run=N code=C fired=F flash=before|other conf=same|changed mtu=M
//   calls=<reserved>/<released> progress=<the progress file's text>
// The sweep ends with the first run in which nothing failed.
#include <fcntl.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "failcall.h"
#include "updt_driver.h"

namespace {

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void put(const std::string &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

int linkMtu()
{
    const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    struct ifreq ifr {};
    std::strcpy(ifr.ifr_name, "eth0");
    const int r = s < 0 ? -1 : ioctl(s, SIOCGIFMTU, &ifr);
    if (s >= 0)
        close(s);
    return r == 0 ? ifr.ifr_mtu : -1;
}

// The 405 counters of the state text.
std::string calls(const std::string &state)
{
    auto field = [&](const char *key) {
        const size_t at = state.find(std::string("\n") + key + "=");
        if (at == std::string::npos)
            return std::string("?");
        const size_t from = at + std::strlen(key) + 2;
        return state.substr(from, state.find('\n', from) - from);
    };
    return field("reserve405") + "/" + field("release405");
}

}  // namespace

int main(int argc, char **argv)
{
    const char *stateDir = std::getenv("VEXA_SIMKERNEL_STATE");
    if (argc != 2 || stateDir == nullptr)
        return 2;
    const std::string chipPath = std::string(stateDir) + "/chip.bin";
    const std::string statePath = std::string(stateDir) + "/state";
    const std::string chip = slurp(chipPath);
    const std::string state = slurp(statePath);
    const char *confPath = "/etc/vexainfo.conf";
    const std::string conf = slurp(confPath);
    const std::string backup = std::filesystem::path(argv[1]).parent_path() / "b@ckup";

    for (int run = 0;; ++run) {
        put(chipPath, chip);
        put(statePath, state);
        put(std::string(stateDir) + "/ops.log", "");
        put(confPath, conf);
        std::filesystem::remove_all(backup);
        int report[2];
        if (pipe(report) != 0)
            return 3;
        std::fflush(stdout);
        const pid_t child = fork();
        if (child == 0) {
            close(report[0]);
            if (run > 0)
                failcall::Arm({.call = failcall::Call::Alloc, .nth = run});
            char *args[] = {argv[1], nullptr};
            const int code = UPDTMain(1, args);
            const int result[2] = {code, failcall::Fired()};
            failcall::Disarm();
            if (write(report[1], result, sizeof result) != sizeof result)
                _exit(4);
            _exit(0);
        }
        close(report[1]);
        int result[2] = {-1000, -1};
        const bool got = read(report[0], result, sizeof result) == sizeof result;
        close(report[0]);
        int status = 0;
        waitpid(child, &status, 0);
        if (!got) {
            std::printf("run=%d died status=%d\n", run, status);
            return 5;
        }
        std::printf("run=%d code=%d fired=%d flash=%s conf=%s mtu=%d calls=%s progress=%s\n", run, result[0],
                    result[1], slurp(chipPath) == chip ? "before" : "other",
                    slurp(confPath) == conf ? "same" : "changed", linkMtu(), calls(slurp(statePath)).c_str(),
                    slurp("/tmp/update.progress").c_str());
        if (run > 0 && result[1] == 0)
            return 0;
    }
}
