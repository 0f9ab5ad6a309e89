// The chroot list's reader and its one rewriter, shared by the add, the
// delete and the combined replace.
#ifndef VEXA_FTP_INTERNAL_H
#define VEXA_FTP_INTERNAL_H

#include <string>
#include <vector>

#include "services/ftp/vexa_ftp.h"

namespace vexaftp {

// The name lines of the list: 1 read, 0 the file does not exist, -1 it
// could not be read (logged under who, code recorded).
int chrootRead(std::vector<std::string> &names, const char *who);

// Drops the names pDelete holds, takes the kept names out of pAdd, appends
// what pAdd still holds; a missing file is created only for names to add.
int chrootRewrite(VRALSzList *pDelete, VRALSzList *pAdd, const char *who);

}  // namespace vexaftp

#endif
