// samba's own tools reading copies of what the SDK wrote, run inside the
// appliance root (so they see its accounts and never the host's samba
// folders) with a scratch configuration under /oracle: lanman auth on, the
// DOS code page of the "enu" language, private, lock, state, cache and pid
// folders of its own.
#ifndef VEXA_TEST_SAMBA_ORACLE_H
#define VEXA_TEST_SAMBA_ORACLE_H

#include <map>
#include <vector>
#include <string>

#include "approot.h"

namespace vexatest::samba {

// Sections of a configuration as testparm prints it: name, then each
// parameter's value.
using Parsed = std::map<std::string, std::map<std::string, std::string>>;

struct Testparm {
    int status = -1;
    std::string out;   // the configuration as samba understood it
    std::string err;   // its notes, refused parameters among them
    Parsed parsed;     // out, parsed
    // Parameters samba refused ("Unknown parameter encountered: ...").
    std::vector<std::string> unknown;
};

// testparm -s on a copy of an smb.conf text.
Testparm testparm(approot::Appliance &app, const std::string &smbConf);

// When a run wrote "/usr/vexa/etc/smb.conf", testparm reads it whole and
// refuses no parameter but "ftp write only", which samba does not know.
void expectSmbConfReadable(approot::Appliance &app);

// pdbedit -L -w of the passdb backend given ("smbpasswd:/oracle/x"): the
// status and the lines it printed, each "name:uid:LM:NT:flags:LCT-...:".
approot::RunResult pdbeditList(approot::Appliance &app, const std::string &backend);

// samba's LM and NT hashes of a password, as "LM:NT", from an account of
// root added to a scratch tdbsam.
std::string hashes(approot::Appliance &app, const std::string &password);

}  // namespace vexatest::samba

#endif
