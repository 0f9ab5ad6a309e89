/* Configuration-file engine: key="value" files, whole lines found by a
 * pattern, and sectioned files ("[name]" headers over key lines).
 *
 * Every change of an existing file is written to a temporary file beside it
 * ("<file>.XXXXXX"), synced, given the old owner, group and mode and renamed
 * over the file; a file reached through a symbolic link is rewritten at the
 * link's target.  A link in a sticky folder that others can write ("/tmp")
 * is followed only when the folder's owner or the caller owns it, as the
 * kernel's protected-symlinks rule has it; any other link there is never
 * written through: the calls that create a missing file put a new file of
 * the caller's in the link's place, the others fail (ERR_OPEN_FAILED).  A
 * failed call leaves no temporary file.  The engine takes no lock: callers
 * hold the lock files around a call when they need one.
 *
 * Keys, values, lines and section names that hold a newline are refused
 * (ERR_BAD_PARAMETERS), as are key formats without exactly two "%s"
 * conversions and keys that would never be found again: with "=", with a
 * blank (space, tab, CR) at either end, in double quotes, or starting with
 * "#" or ";". */
#ifndef VRAL_FILE_H
#define VRAL_FILE_H

#include "base/hash/vral_hash.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The system's own key="value" file: model, settings, migration keys. */
#define VEXA_INFO_CONF "/etc/vexainfo.conf"

/* Match flags, combinable. */
#define OP_FIND_LAST     0x001  /* use the last matching line, not the first */
#define OP_MATCH_BEGIN   0x002  /* the line must begin with the pattern */
#define OP_MATCH_END     0x004  /* the line must end with the pattern */
#define OP_FIND_PREFIX   0x200  /* add after the matching line; no pattern: append */
#define OP_MATCH_NOCASE  0x400  /* compare upper-cased copies */

/* Format used for key lines when none is given. */
#define VRAL_FILE_DEFAULT_FORMAT "%s=%s\n"

/* ---- Keys and lines ---------------------------------------------------- */

/* Value of szKey into buf (cb bytes).  Returns the value's size with its
 * terminator, 0 when not found, -1 on failure (a missing file is a failure).
 * buf NULL with cb 0 asks for the size. */
int VRALFileGetKeyValue(const char *szFile, const char *szKey, char *buf, int cb, int flags);

/* The line (without its newline) matching the pattern szKey into buf.
 * Size with terminator, 0 not found, -1. */
int VRALFileGetLine(const char *szFile, const char *szKey, char *buf, int cb, int flags);

/* Adds szLine before (or with OP_FIND_PREFIX after) the line matching szKey;
 * no pattern: first line, or appended with OP_FIND_PREFIX.  A missing file
 * is created holding the line.  1 added, 0 no matching line, -1. */
int VRALFileAddLine(const char *szFile, const char *szKey, const char *szLine, int flag);

/* Replaces the line matching szKey by szLine (NULL deletes it).  A missing
 * file is created holding szLine.  1 done, 0 no matching line, -1. */
int VRALFileSetLine(const char *szFile, const char *szKey, const char *szLine, int flags);

/* Sets szKey to value, written through format (NULL for "%s=%s\n"; two
 * "%s": key, then value).  A missing file is created.  1 or -1. */
int VRALFileSetKeyValue(const char *szFile, const char *szKey, const char *value, const char *format);

/* Removes every line of szKey.  The number removed, 0 none, -1. */
int VRALFileRemoveKey(const char *szFile, const char *szKey);

/* Replaces every occurrence of szOld by szNew.  The count, 0 none, -1. */
int VRALFileReplaceSubStr(const char *szFile, const char *szOld, const char *szNew);

/* 1 when the value of szKey equals text ignoring ASCII case, else 0. */
int VRALFileKeyValueMatch(const char *szFile, const char *szKey, const char *text);

/* 1 when the line's key is szKey, else 0.  The line is cut in place at the
 * "=" that ends its key: pass a copy. */
int VRALFileLineKeyMatch(char *line, const char *szKey);

/* 1 when the line matches the pattern under the flags, else 0. */
int VRALFileLineMatch(const char *line, const char *pattern, int flags);

/* unlink(szFile): 0 or -1. */
int VRALFileUnlink(const char *szFile);

/* ---- Sectioned files --------------------------------------------------- */

/* Reads the pairs of the first section named section into *ppMap (an
 * existing map; its block may be replaced).  The map's item count, or -1. */
int VRALFileGetSection(const char *szFile, const char *section, VRALSzHash **ppMap);

/* Appends the section with the map's pairs.  1 appended, 0 already present,
 * -1.  The file must exist. */
int ErrVRALFileAddSection(const char *szFile, const char *section, VRALSzHash *pMap, const char *format);

/* Replaces every section oldSection by newSection (NULL keeps the name) with
 * the map's pairs.  1 replaced, 0 not found, -1. */
int ErrVRALFileSetSection(const char *szFile, const char *oldSection, const char *newSection,
                          VRALSzHash *pMap, const char *format);

/* mode 1 replaces (as ErrVRALFileSetSection), mode 0 deletes the section,
 * keeping its comment lines.  1 done, 0 not found, -1. */
int VRALFileModifySection(const char *szFile, const char *oldSection, const char *newSection,
                          VRALSzHash *pMap, int mode, const char *format);

/* 1 when the line (len bytes, newline included) is a section header. */
int VRALFileIsSectionLine(const char *line, int len);

/* 1 when the line is the header of section, 0 when not, -1 for NULL. */
int VRALFileMatchSection(const char *line, int len, const char *section);

#ifdef __cplusplus
}
#endif

#endif
