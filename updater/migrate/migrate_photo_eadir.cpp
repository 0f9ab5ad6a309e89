// The photo share's thumbnail folders, opened to the services of the new
// firmware that run as other users.
#include <cstdlib>

#include "migrate_steps.h"

namespace updt::migrate {

int chmodPhotoEaDir(const Step &)
{
    if (std::system("/usr/bin/find /var/services/photo/ -type d -name @eaDir -exec /bin/chmod -R 777 \"{}\" \\;") !=
        0) {
        // Its result is not looked at.
    }
    return 0;
}

}  // namespace updt::migrate
