// simprobe: issues device requests for the simulated device kernel's tests.
//
//   simprobe [-r|-w] DEVICE STEP [STEP...]
//
// opens DEVICE once (read-write, or -r read-only, -w write-only) and runs the
// steps in order on that descriptor, printing one line per step:
// "ok ..." or "err <errno name>".  Steps are separated by ",":
//   getinfo | erase S L | lock S L | unlock S L | m22 START SIZE
//   m23 NAME BASE SIZE DATALEN | m24 N | m25 C0..C7 | m26
//   mdinfo | mdsync | blksize64 | blksize | fstat
//   read OFF LEN (hex of the bytes) | write OFF HEXBYTES | fill OFF LEN BYTE
//   seek OFF WHENCE(set|cur|end)
//   tell FIFO (blocks until another process awaits it) | await FIFO
// DEVICE "-" opens nothing; then only these work:
//   sys405 ARG | sys401 | stat PATH | sysinfo (uptime from sysinfo()) |
//   syscall-sysinfo (the same through syscall())
// The exit code is the number of failed steps (at most 100).
#include <errno.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/major.h>
#include <linux/raid/md_u.h>
#include <mtd/mtd-user.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysinfo.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

unsigned long num(const std::string &s) { return strtoul(s.c_str(), nullptr, 0); }

int err(const char *what) {
    printf("err %s %s\n", what, strerrorname_np(errno) ? strerrorname_np(errno) : "?");
    return 1;
}

int step(int fd, const std::vector<std::string> &a) {
    const std::string &c = a[0];
    auto need = [&](size_t n) {
        if (a.size() != n + 1) {
            fprintf(stderr, "simprobe: %s needs %zu arguments\n", c.c_str(), n);
            exit(100);
        }
    };
    if (c == "getinfo") {
        need(0);
        mtd_info_user mi;
        memset(&mi, 0xAA, sizeof mi);
        if (ioctl(fd, MEMGETINFO, &mi) != 0) return err(c.c_str());
        printf("ok type=%u size=0x%x erasesize=0x%x\n", mi.type, mi.size, mi.erasesize);
    } else if (c == "erase" || c == "lock" || c == "unlock") {
        need(2);
        erase_info_user ei{uint32_t(num(a[1])), uint32_t(num(a[2]))};
        unsigned long r = c == "erase" ? MEMERASE : c == "lock" ? MEMLOCK : MEMUNLOCK;
        if (ioctl(fd, r, &ei) != 0) return err(c.c_str());
        printf("ok\n");
    } else if (c == "m22") {
        need(2);
        uint32_t v[2] = {uint32_t(num(a[1])), uint32_t(num(a[2]))};
        if (ioctl(fd, 0x40084d16UL, v) != 0) return err(c.c_str());
        printf("ok\n");
    } else if (c == "m23") {
        need(4);
        unsigned char rec[28];
        memset(rec, 0, sizeof rec);
        memcpy(rec, a[1].data(), a[1].size() < 16 ? a[1].size() : 16);
        uint32_t v[3] = {uint32_t(num(a[2])), uint32_t(num(a[3])), uint32_t(num(a[4]))};
        memcpy(rec + 16, v, sizeof v);
        if (ioctl(fd, 0x401c4d17UL, rec) != 0) return err(c.c_str());
        printf("ok\n");
    } else if (c == "m24") {
        need(1);
        if (ioctl(fd, 0x40044d18UL, num(a[1])) != 0) return err(c.c_str());
        printf("ok\n");
    } else if (c == "m25") {
        need(8);
        uint32_t v[8];
        for (int i = 0; i < 8; ++i) v[i] = uint32_t(num(a[size_t(i) + 1]));
        if (ioctl(fd, 0x40044d19UL, v) != 0) return err(c.c_str());
        printf("ok\n");
    } else if (c == "m26") {
        need(0);
        uint32_t v[16];
        memset(v, 0xAA, sizeof v);
        if (ioctl(fd, 0x80044d1aUL, v) != 0) return err(c.c_str());
        printf("ok");
        for (int k = 0; k < 8; ++k) printf(" %u:%u", v[2 * k], v[2 * k + 1]);
        printf("\n");
    } else if (c == "mdinfo") {
        need(0);
        mdu_array_info_t ai;
        memset(&ai, 0xAA, sizeof ai);
        if (ioctl(fd, GET_ARRAY_INFO, &ai) != 0) return err(c.c_str());
        printf("ok level=%d size=%d raid_disks=%d\n", ai.level, ai.size, ai.raid_disks);
    } else if (c == "mdsync") {
        need(0);
        int v[3] = {-7, -7, -7};
        if (ioctl(fd, 0x800c0960UL, v) != 0) return err(c.c_str());
        printf("ok %d %d %d\n", v[0], v[1], v[2]);
    } else if (c == "blksize64") {
        need(0);
        uint64_t v = 0;
        if (ioctl(fd, BLKGETSIZE64, &v) != 0) return err(c.c_str());
        printf("ok %llu\n", (unsigned long long)v);
    } else if (c == "blksize") {
        need(0);
        unsigned long v = 0;
        if (ioctl(fd, BLKGETSIZE, &v) != 0) return err(c.c_str());
        printf("ok %lu\n", v);
    } else if (c == "fstat" || c == "stat") {
        struct stat sb;
        int r;
        if (c == "fstat") {
            need(0);
            r = fstat(fd, &sb);
        } else {
            need(1);
            r = stat(a[1].c_str(), &sb);
        }
        if (r != 0) return err(c.c_str());
        const char *t = S_ISCHR(sb.st_mode) ? "chr" : S_ISBLK(sb.st_mode) ? "blk"
                      : S_ISREG(sb.st_mode) ? "reg" : "other";
        printf("ok type=%s rdev=%u:%u size=%lld\n", t, major(sb.st_rdev), minor(sb.st_rdev),
               (long long)sb.st_size);
    } else if (c == "read") {
        need(2);
        std::vector<unsigned char> b(num(a[2]));
        ssize_t n = pread(fd, b.data(), b.size(), off_t(num(a[1])));
        if (n < 0) return err(c.c_str());
        printf("ok %zd ", n);
        for (ssize_t i = 0; i < n; ++i) printf("%02x", b[size_t(i)]);
        printf("\n");
    } else if (c == "write" || c == "fill") {
        std::vector<unsigned char> b;
        if (c == "write") {
            need(2);
            for (size_t i = 0; i + 1 < a[2].size(); i += 2)
                b.push_back(uint8_t(strtoul(a[2].substr(i, 2).c_str(), nullptr, 16)));
        } else {
            need(3);
            b.assign(num(a[2]), uint8_t(num(a[3])));
        }
        if (lseek(fd, off_t(num(a[1])), SEEK_SET) < 0) return err("seek");
        ssize_t n = write(fd, b.data(), b.size());
        if (n < 0) return err(c.c_str());
        printf("ok %zd\n", n);
    } else if (c == "seek") {
        need(2);
        int w = a[2] == "end" ? SEEK_END : a[2] == "cur" ? SEEK_CUR : SEEK_SET;
        off_t r = lseek(fd, off_t(strtol(a[1].c_str(), nullptr, 0)), w);
        if (r < 0) return err(c.c_str());
        printf("ok %lld\n", (long long)r);
    } else if (c == "tell" || c == "await") {
        // processes meet at a FIFO instead of guessing how long to wait
        need(1);
        int f = open(a[1].c_str(), (c == "tell" ? O_WRONLY : O_RDONLY) | O_CLOEXEC);
        if (f < 0) return err(c.c_str());
        char b = '\n';
        bool ok = c == "tell" ? write(f, &b, 1) == 1 : read(f, &b, 1) >= 0;
        close(f);
        if (!ok) return err(c.c_str());
        printf("ok\n");
        fflush(stdout);
    } else if (c == "sys405") {
        need(1);
        long r = syscall(405, long(num(a[1])));
        if (r != 0) return err(c.c_str());
        printf("ok\n");
    } else if (c == "sys401") {
        need(0);
        int v = 0x10;
        long r = syscall(401, &v);
        if (r != 0) return err(c.c_str());
        printf("ok 0x%x\n", v);
    } else if (c == "sysinfo" || c == "syscall-sysinfo") {
        need(0);
        struct sysinfo si;
        memset(&si, 0, sizeof si);
        long r = c == "sysinfo" ? sysinfo(&si) : syscall(SYS_sysinfo, &si);
        if (r != 0) return err(c.c_str());
        printf("ok uptime=%ld mem=%s\n", si.uptime, si.totalram > 0 ? "yes" : "no");
    } else {
        fprintf(stderr, "simprobe: unknown step %s\n", c.c_str());
        exit(100);
    }
    fflush(stdout);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    int i = 1;
    int mode = O_RDWR;
    if (i < argc && strcmp(argv[i], "-r") == 0) mode = O_RDONLY, ++i;
    else if (i < argc && strcmp(argv[i], "-w") == 0) mode = O_WRONLY, ++i;
    if (i >= argc) {
        fprintf(stderr, "usage: simprobe [-r|-w] DEVICE STEP [, STEP...]\n");
        return 100;
    }
    const char *dev = argv[i++];
    int fd = -1;
    if (strcmp(dev, "-") != 0) {
        fd = open(dev, mode);
        if (fd < 0) {
            err("open");
            return 100;
        }
        printf("ok open\n");
    }
    int failed = 0;
    std::vector<std::string> cur;
    for (; i <= argc; ++i) {
        if (i == argc || strcmp(argv[i], ",") == 0) {
            if (!cur.empty()) failed += step(fd, cur);
            cur.clear();
        } else {
            cur.emplace_back(argv[i]);
        }
    }
    fflush(stdout);
    if (fd >= 0) close(fd);
    return failed > 99 ? 99 : failed;
}
