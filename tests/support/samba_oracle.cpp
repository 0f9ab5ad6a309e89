#include "samba_oracle.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <sstream>

#include "test_tmp.h"

namespace vexatest::samba {

namespace {

constexpr char kDir[] = "/oracle";

bool toolThere(const char *path)
{
    if (access(path, X_OK) == 0)
        return true;
    ADD_FAILURE() << path << " is missing: scripts/setup installs it";
    return false;
}

// The scratch configuration's path inside, written on first use.
std::string config(approot::Appliance &app)
{
    const std::string conf = std::string(kDir) + "/smb.conf";
    if (app.exists(conf))
        return conf;
    std::string text = "[global]\n\tlanman auth = yes\n\tntlm auth = yes\n\tdos charset = CP1252\n";
    for (const char *d : {"private dir", "lock directory", "state directory", "cache directory", "pid directory",
                          "ncalrpc dir"}) {
        std::string folder = std::string(kDir) + "/" + d;
        for (char &c : folder)
            c = c == ' ' ? '_' : c;
        app.mkdir(folder, 0700);
        text += std::string("\t") + d + " = " + folder + "\n";
    }
    text += std::string("\tlog file = ") + kDir + "/log\n";
    app.writeFile(conf, text, 0644);
    return conf;
}

}  // namespace

Testparm testparm(approot::Appliance &app, const std::string &smbConf)
{
    Testparm t;
    if (!toolThere("/usr/bin/testparm"))
        return t;
    const std::string copy = std::string(kDir) + "/testparm.conf";
    app.writeFile(copy, smbConf, 0644);
    const approot::RunResult r = app.run({"/usr/bin/testparm", "-s", copy});
    t.status = r.status;
    t.out = r.out;
    t.err = r.err;
    std::string section;
    for (const std::string &line : splitLines(r.out)) {
        if (line.size() > 2 && line.front() == '[' && line.back() == ']') {
            section = line.substr(1, line.size() - 2);
            t.parsed[section];
            continue;
        }
        const size_t eq = line.find(" = ");
        if (eq == std::string::npos)
            continue;
        const size_t b = line.find_first_not_of(" \t");
        t.parsed[section][line.substr(b, eq - b)] = line.substr(eq + 3);
    }
    const std::string mark = "Unknown parameter encountered: \"";
    for (const std::string &line : splitLines(r.err)) {
        const size_t at = line.find(mark);
        if (at != std::string::npos)
            t.unknown.push_back(line.substr(at + mark.size(), line.rfind('"') - at - mark.size()));
    }
    return t;
}

void expectSmbConfReadable(approot::Appliance &app)
{
    constexpr char kConf[] = "/usr/vexa/etc/smb.conf";
    bool written = false;
    for (const approot::Change &c : app.changes())
        written = written || (c.path == kConf && c.kind != 'D');
    if (!written)
        return;
    const Testparm t = testparm(app, app.readFile(kConf));
    EXPECT_EQ(t.status, 0) << t.err;
    for (const std::string &u : t.unknown)
        EXPECT_EQ(u, "ftp write only") << t.err << app.readFile(kConf);
}

approot::RunResult pdbeditList(approot::Appliance &app, const std::string &backend)
{
    if (!toolThere("/usr/bin/pdbedit"))
        return {-1, "", ""};
    return app.run({"/usr/bin/pdbedit", "-s", config(app), "-b", backend, "-L", "-w"});
}

std::string hashes(approot::Appliance &app, const std::string &password)
{
    if (!toolThere("/usr/bin/pdbedit"))
        return "";
    static int n = 0;
    const std::string backend = "tdbsam:" + std::string(kDir) + "/hash" + std::to_string(++n) + ".tdb";
    const std::string conf = config(app);
    const std::string pw = shellQuote(password);
    const approot::RunResult add =
        app.run({"/bin/sh", "-c",
                 "printf '%s\\n%s\\n' " + pw + " " + pw + " | /usr/bin/pdbedit -s " + conf + " -b " + backend +
                     " -a -u root -t >/dev/null"});
    EXPECT_EQ(add.status, 0) << add.err;
    const approot::RunResult list = pdbeditList(app, backend);
    EXPECT_EQ(list.status, 0) << list.err;
    // root:0:LM:NT:...
    const std::vector<std::string> lines = splitLines(list.out);
    if (lines.size() != 1 || lines[0].rfind("root:0:", 0) != 0) {
        ADD_FAILURE() << list.out;
        return "";
    }
    return lines[0].substr(7, 65);
}

}  // namespace vexatest::samba
