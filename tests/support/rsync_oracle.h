// rsync's own daemon reading copies of the rsync files the SDK wrote: the
// test listens on 127.0.0.1 at a port the kernel picks and hands the one
// connection of each listing to "rsync --daemon" (run as inetd would), so
// nothing waits for a daemon to come up and nothing listens elsewhere.
#ifndef VEXA_TEST_RSYNC_ORACLE_H
#define VEXA_TEST_RSYNC_ORACLE_H

#include <string>

#include "test_tmp.h"

namespace vexatest {

class RsyncOracle {
public:
    // conf and secrets: the files as written ("/etc/rsyncd.conf" and
    // "/etc/rsyncd.secrets"), secretsMode the secrets file's mode;
    // modulePath, the module's path in conf, is mapped to a scratch folder.
    RsyncOracle(const std::string &conf, const std::string &secrets, int secretsMode, const std::string &modulePath);

    struct Result {
        int status = -1;   // the client's exit code; -1 when it did not run
        std::string out;   // its output and error text
    };

    // Lists the module as user with the password secret (RSYNC_PASSWORD).
    Result list(const std::string &module, const std::string &user, const std::string &secret);

private:
    TempDir dir_{"rsyncd"};
    std::string confPath_;
};

}  // namespace vexatest

#endif
