// simflash: builds and shows the simulated appliance's flash for people and
// the demo script.
//
//   simflash make-chip --state DIR --table normal|bantam|msys
//   simflash make-package --dir DIR --build N [--model ID] [--table T]
//                         [--grow FILE=BYTES]...
//   simflash show --state DIR [--package DIR]
//   simflash fault --state DIR RULE...      (appends one rule)
//   simflash clear-faults --state DIR
//   simflash answer405 --state DIR 0|ERRNO
//   simflash uptime --state DIR SECONDS|none
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "simfixture.h"

namespace {

int usage() {
    std::cerr << "usage:\n"
                 "  simflash make-chip --state DIR --table normal|bantam|msys\n"
                 "  simflash make-package --dir DIR --build N [--model ID] [--table T] "
                 "[--grow FILE=BYTES]...\n"
                 "  simflash show --state DIR [--package DIR]\n"
                 "  simflash fault --state DIR RULE...\n"
                 "  simflash clear-faults --state DIR\n"
                 "  simflash answer405 --state DIR 0|ERRNO\n"
                 "  simflash uptime --state DIR SECONDS|none\n";
    return 2;
}

std::string readFile(const std::string &p, bool *ok) {
    std::ifstream in(p, std::ios::binary);
    *ok = bool(in);
    std::ostringstream ss;
    if (in) ss << in.rdbuf();
    return ss.str();
}

int show(const std::string &state, const std::string &pkg) {
    sk::State st = simkernel::loadState(state);
    std::printf("flash: %s, %s, base 0x%08X, %u bytes, erase block 0x%X\n",
                st.mode == sk::MODE_MSYS ? "msys" : "nor", st.table, st.base, st.chipsize,
                st.erasesize);
    std::vector<simkernel::DirEntry> dir;
    if (st.mode == sk::MODE_NOR) dir = simkernel::readDirectory(state);
    for (int i = 0; i < sk::kMaxParts; ++i) {
        const sk::Part &p = st.part[i];
        if (!p.present) continue;
        uint32_t base = p.start, size = p.size, datalen = p.datalen;
        bool inDir = st.mode == sk::MODE_MSYS;
        for (const auto &e : dir)
            if (strcasecmp(e.name.c_str(), p.name) == 0)
                base = e.flashBase, size = e.size, datalen = e.dataLength, inDir = true;
        std::printf("/dev/mtd%d  %-15s 0x%08X-0x%08llX  size 0x%08X  data 0x%08X%s", i, p.name,
                    base, (unsigned long long)base + size, size, datalen,
                    inDir ? "" : "  (not in directory)");
        if (st.mode == sk::MODE_NOR && (p.start != base || p.size != size))
            std::printf("  window 0x%08X+0x%X", p.start, p.size);
        if (!pkg.empty()) {
            bool ok;
            std::string img = readFile(pkg + "/" + simkernel::imageFileName(p.name), &ok);
            if (!ok) std::printf("  [no image]");
            else if (!inDir || img.size() > size) std::printf("  [image does not fit]");
            else std::printf("  [%s]",
                             simkernel::partitionData(state, p.name, img.size()) == img
                                 ? "image written" : "differs from image");
        }
        std::printf("\n");
    }
    auto c = simkernel::counters405(state);
    std::printf("system call 405: %llu reserve, %llu release\n", (unsigned long long)c.reserve,
                (unsigned long long)c.release);
    if (st.hasUptime) std::printf("uptime: %llu seconds\n", (unsigned long long)st.uptime);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) return usage();
    std::string cmd = argv[1];
    std::string state, dir, table = "normal", model, pkg;
    int build = -1;
    std::vector<std::string> grow, rest;
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        auto val = [&]() -> std::string {
            if (i + 1 >= argc) throw std::runtime_error("missing value after " + a);
            return argv[++i];
        };
        if (a == "--state") state = val();
        else if (a == "--dir") dir = val();
        else if (a == "--table") table = val();
        else if (a == "--model") model = val();
        else if (a == "--build") build = std::atoi(val().c_str());
        else if (a == "--grow") grow.push_back(val());
        else if (a == "--package") pkg = val();
        else rest.push_back(a);
    }
    try {
        if (cmd == "make-chip") {
            if (state.empty()) return usage();
            if (table == "msys") simkernel::makeMSysChip(state);
            else simkernel::makeChip(state, table);
            return 0;
        }
        if (cmd == "make-package") {
            if (dir.empty() || build < 0) return usage();
            simkernel::PackageLayout contents;
            contents.build = build;
            contents.table = table;
            if (!model.empty()) contents.model = model;
            contents.images = simkernel::defaultImages(table);
            for (const auto &g : grow) {
                size_t eq = g.find('=');
                if (eq == std::string::npos) return usage();
                contents.images[g.substr(0, eq)] = std::strtoull(g.c_str() + eq + 1, nullptr, 0);
            }
            simkernel::makePackage(dir, contents);
            return 0;
        }
        if (cmd == "show") {
            if (state.empty()) return usage();
            return show(state, pkg);
        }
        if (cmd == "fault") {
            if (state.empty() || rest.empty()) return usage();
            std::string rule;
            for (const auto &r : rest) rule += (rule.empty() ? "" : " ") + r;
            simkernel::addFault(state, rule);
            return 0;
        }
        if (cmd == "clear-faults") {
            if (state.empty()) return usage();
            simkernel::clearFaults(state);
            return 0;
        }
        if (cmd == "answer405") {
            if (state.empty() || rest.size() != 1) return usage();
            int e = rest[0] == "0" ? 0 : sk::errnoFromName(rest[0].c_str());
            if (rest[0] != "0" && e <= 0) return usage();
            simkernel::set405Answer(state, e);
            return 0;
        }
        if (cmd == "uptime") {
            if (state.empty() || rest.size() != 1) return usage();
            if (rest[0] == "none") {
                simkernel::clearUptime(state);
                return 0;
            }
            char *end = nullptr;
            errno = 0;
            long n = std::strtol(rest[0].c_str(), &end, 10);
            if (rest[0].empty() || *end != 0 || n < 0 || errno != 0) return usage();
            simkernel::setUptime(state, n);
            return 0;
        }
    } catch (const std::exception &e) {
        std::cerr << "simflash: " << e.what() << "\n";
        return 1;
    }
    return usage();
}
