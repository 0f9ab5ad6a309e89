#include "e2e_fixture.h"

#include "analysis_fixture.h"

#include <unistd.h>

#include <gtest/gtest.h>

namespace e2e {

namespace {

using vexatest::splitLines;

// The observer's log lies in the kernel's state folder, outside the root,
// so that it is no change of the run.
std::string watchLog(const std::string &state)
{
    return state + "/progress.watch";
}

}  // namespace

std::string updaterPath()
{
    return UPDATER_BIN;
}

Appliance::Appliance(const std::string &t, const std::string &dir) : table(t), packageDir(dir)
{
    state = tmp / "kernel";
    simkernel::makeChip(state, table);
    model = table == "bantam" ? "vexa_test_bantam" : "vexa_test";
    simkernel::attach(app, state);
    // The observer goes first: it passes every call on to the kernel stand-in.
    app.setEnv("LD_PRELOAD", std::string(UPDTWATCH_LIB) + ":" + simkernel::libraryPath());
    app.setEnv("VEXA_WATCH_PROGRESS", watchLog(state));
    app.mkdir("/tmpRoot");
}

void Appliance::install(const Installed &inst)
{
    if (!inst.model.empty())
        model = inst.model;
    std::string info = "unique=\"" + model + "\"\n";
    info += std::string("supportraid=\"") + (inst.raid ? "yes" : "no") + "\"\n";
    if (inst.supportMtu)
        info += "supportMTU=\"yes\"\n";
    info += inst.extraDefaults;
    app.writeFile("/etc.defaults/vexainfo.conf", info);
    std::string conf = "unique=\"" + model + "\"\n";
    if (!inst.eth0Mtu.empty())
        conf += "eth0_mtu=\"" + inst.eth0Mtu + "\"\n";
    conf += "defaultfs=\"ext3\"\n";
    app.writeFile("/etc/vexainfo.conf", conf);
    app.writeFile("/etc.defaults/VERSION", "majorversion=\"" + inst.major + "\"\nminorversion=\"0\"\nbuildphase=\"0\"\nbuildnumber=\"" +
                                               std::to_string(inst.build) + "\"\n");
    if (inst.raid) {
        simkernel::MdArray md;
        md.sizeKib = 4 * 1024 * 1024;
        md.devSize = md.sizeKib * 1024;
        simkernel::setMd(state, 0, md);
    }
}

void Appliance::installWithMtu(int mtu, int speedMbps)
{
    Installed inst;
    inst.supportMtu = true;
    inst.eth0Mtu = std::to_string(mtu);
    install(inst);
    app.setEth0(mtu, speedMbps);
}

void Appliance::package(simkernel::PackageLayout contents)
{
    if (contents.model == simkernel::PackageLayout().model)
        contents.model = model;
    contents.table = table;
    simkernel::makePackage(app.layerPath(packageDir), contents);
    app.symlink(updaterPath(), packageDir + "/updater");
}

void Appliance::wrapTool(const std::string &tool, const std::string &script)
{
    app.writeFile("/usr/local/bin/" + tool + ".real", vexatest::readFile("/usr/bin/" + tool), 0755);
    app.writeFile("/usr/bin/" + tool, script, 0755);
}

void Appliance::wrapCopyTool(const std::string &script)
{
    wrapTool("dd", script);
}

void Appliance::disk(long long sectors1, long long start3)
{
    app.writeFile("/sbin/sfdisk", analysistest::sfdiskScript(sectors1, start3), 0755);
}

namespace {
constexpr char kStubCalls[] = "/var/log/stub-calls";
}  // namespace

void Appliance::stubServices()
{
    auto stub = [this](const std::string &path, const std::string &name, const std::string &more = "") {
        app.writeFile(path,
                      "#!/bin/sh\n"
                      "{ printf '%s' '" + name + "'; for a in \"$@\"; do printf ' [%s]' \"$a\"; done; echo; } >> " +
                          kStubCalls + "\n" + more,
                      0755);
    };
    stub("/usr/bin/su", "su");
    stub("/usr/vexa/pgsql/bin/pg_dump", "pg_dump", "echo \"-- dump of $5\"\n");
    stub("/usr/vexa/bin/vexaindex", "vexaindex");
    stub("/usr/vexa/etc/rc.d/S20pgsql.sh", "S20pgsql.sh");
    app.writeFile("/etc/nsswitch.conf", "passwd: files\ngroup: files\nshadow: files\n");
}

std::vector<std::string> Appliance::stubCalls() const
{
    return app.exists(kStubCalls) ? splitLines(app.readFile(kStubCalls)) : std::vector<std::string>{};
}

void Appliance::packageFile(const std::string &name, const std::string &content)
{
    app.writeFile(packageDir + "/" + name, content);
}

approot::RunResult Appliance::run(const std::vector<std::string> &args)
{
    std::vector<std::string> argv = {packageDir + "/updater"};
    argv.insert(argv.end(), args.begin(), args.end());
    return runAs(argv);
}

approot::RunResult Appliance::runAs(const std::vector<std::string> &argv)
{
    std::string fail;
    for (const std::string &w : watchFail)
        fail += (fail.empty() ? "" : " ") + w;
    if (!fail.empty())
        app.setEnv("VEXA_WATCH_FAIL", fail);
    if (initrd && !app.exists("/initrd"))
        app.mkdir("/initrd");
    return app.run(argv);
}

std::vector<std::string> Appliance::progress() const
{
    if (access(watchLog(state).c_str(), F_OK) != 0)
        return {};
    return splitLines(vexatest::readFile(watchLog(state)));
}

std::string Appliance::lastProgress() const
{
    return app.readFile("/tmp/update.progress");
}

std::vector<std::string> Appliance::updateLog() const
{
    std::vector<std::string> texts;
    if (!app.exists("/var/log/vexaupdate.log"))
        return texts;
    for (const std::string &line : splitLines(app.readFile("/var/log/vexaupdate.log"))) {
        size_t tab = line.find('\t');
        texts.push_back(tab == std::string::npos ? line : line.substr(tab + 1));
    }
    return texts;
}

std::vector<std::string> Appliance::syslog() const
{
    std::vector<std::string> out;
    for (const std::string &line : app.syslog()) {
        size_t sep = line.find(": ");
        out.push_back(sep == std::string::npos ? line : line.substr(sep + 2));
    }
    return out;
}

bool Appliance::syslogHas(const std::string &part) const
{
    for (const std::string &line : syslog())
        if (line.find(part) != std::string::npos)
            return true;
    return false;
}

size_t Appliance::syslogCount(const std::string &part) const
{
    size_t n = 0;
    for (const std::string &line : syslog())
        n += line.find(part) != std::string::npos ? 1 : 0;
    return n;
}

std::string Appliance::statOf(const std::string &path, const std::string &format)
{
    const approot::RunResult r = app.run({"/usr/bin/stat", "-c", format, "--", path});
    if (r.status != 0)
        return "";
    std::string out = r.out;
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

std::vector<simkernel::DirEntry> Appliance::directory() const
{
    return simkernel::readDirectory(state);
}

simkernel::DirEntry Appliance::entry(const std::string &name) const
{
    for (const simkernel::DirEntry &e : directory())
        if (e.name == name)
            return e;
    ADD_FAILURE() << "no directory entry " << name;
    return {};
}

}  // namespace e2e
