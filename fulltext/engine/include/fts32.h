/*
 * The full-text library: C interface.
 *
 * An index file (".TS1", ".TS2", ...) holds one entry per record of a table:
 * entry n describes record n. Each entry is an index text (Windows-1252,
 * NUL-terminated, as MakeIdxStr makes it) and a deleted mark. FORMAT.md
 * beside this folder describes the file.
 *
 * Every entry takes and returns 32-bit integers (FtsOpen's buffer size and
 * mode are 16-bit); results below 0 are the FTS_ERR_* codes. Handles are
 * non-negative; a handle that is not open (closed, never issued, or of
 * another library instance) gives FTS_ERR_HANDLE. The entries are safe to
 * call from several threads; several indexes may be open at once.
 *
 * Writes go to the end of the file in checksummed records, buffered up to
 * the buffer size (KiB) given at open and made durable by FtsClose; a crash
 * at any point leaves the file readable with every change up to some
 * complete record. FtsClose folds a large tail into a new file that replaces
 * the old one atomically.
 *
 * Search kinds (FtsVerify's `type`; index texts are split into words at
 * blanks; comparisons ignore ASCII case unless the index was created
 * case-sensitive):
 *   FTS_VBEG (1) every query word begins some word of the entry
 *   FTS_VEND (2) every query word ends some word of the entry
 *   FTS_VAND (3) every query word is a word of the entry
 *   FTS_VONE (4) at least one query word is a word of the entry
 * A query without words matches nothing; deleted entries are never found.
 *
 * The library is loaded at run time (dlopen) by TFts; tools may link it
 * directly. FTS_ENTRIES lists every exported entry with its signature so the
 * binding and the library cannot drift apart.
 */
#ifndef FTS32_H
#define FTS32_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define FTS_API __attribute__((visibility("default")))

/* Results */
#define FTS_OK 0
#define FTS_ERR_ARGUMENT (-1)   /* null or empty text or file name, bad kind */
#define FTS_ERR_NOT_FOUND (-2)  /* the index file does not exist */
#define FTS_ERR_IO (-3)         /* the file could not be read, written or created */
#define FTS_ERR_CORRUPT (-4)    /* the file is not an index file or is damaged */
#define FTS_ERR_LOCKED (-5)     /* another handle or process has the file open */
#define FTS_ERR_READONLY (-6)   /* a change through a handle opened read-only */
#define FTS_ERR_RECNO (-7)      /* record number outside 1..FtsNumRecs */
#define FTS_ERR_NO_HANDLES (-8) /* too many indexes open at once */
#define FTS_ERR_MEMORY (-9)     /* out of memory */
#define FTS_ERR_INTERNAL (-10)  /* an unexpected failure inside the library */
#define FTS_ERR_HANDLE (-18)    /* not an open handle */

/* Search kinds: TVerifyType's ordinal + 1. */
#define FTS_VBEG 1
#define FTS_VEND 2
#define FTS_VAND 3
#define FTS_VONE 4

/* FtsOpen modes (bits). */
#define FTS_MODE_READWRITE 0 /* exclusive use, changes allowed */
#define FTS_MODE_READONLY 1  /* shared use, no changes */

/* An index text longer than this is cut to this many bytes when stored. */
#define FTS_MAX_TEXT 1023

/*
 * X(return type, name, parameter list, argument names)
 *
 * FtsOpen      opens an existing index; buffSize is the write buffer in KiB
 *              (0 or less: 32). -> handle
 * FtsAdd       appends an entry; its number is FtsNumRecs + 1. -> that number
 * FtsReplace   replaces the text of entry recNo (its deleted mark stays). -> 0
 * FtsClose     writes pending changes to disk and closes. -> 0
 * FtsCreate    makes a new empty index (replacing any file of that name) and
 *              opens it for writing; idxSize is the expected number of
 *              entries (a hint), caseSensitive non-zero makes searches compare
 *              case, filter must be 0. -> handle
 * FtsDelete, FtsUnDelete   set and clear the deleted mark of entry recNo. -> 0
 * FtsIsDelete  -> 1 when entry recNo is marked deleted, 0 when not
 * FtsNumRecs   -> number of entries, deleted ones included
 * FtsSet       searches with kind FTS_VAND. -> number of entries found
 * FtsVerify    with target NULL: searches for `query` with kind `type`
 *              (like FtsSet) -> number found; with a target text: -> 1 when
 *              that text matches `query` with kind `type`, else 0
 * FtsNextRec   -> the next record number found by the last search, in
 *              ascending order; 0 after the last one
 * FtsVersion   -> the library's version text (static storage)
 */
#define FTS_ENTRIES(X)                                                                          \
  X(int32_t, FtsOpen, (const char* fileName, int16_t buffSize, int16_t mode),                   \
    (fileName, buffSize, mode))                                                                 \
  X(int32_t, FtsAdd, (int32_t handle, const char* idxStr), (handle, idxStr))                    \
  X(int32_t, FtsReplace, (int32_t handle, const char* idxStr, int32_t recNo),                   \
    (handle, idxStr, recNo))                                                                    \
  X(int32_t, FtsClose, (int32_t handle), (handle))                                              \
  X(int32_t, FtsCreate,                                                                         \
    (const char* fileName, int32_t buffSize, int32_t idxSize, int32_t caseSensitive,            \
     int32_t filter),                                                                           \
    (fileName, buffSize, idxSize, caseSensitive, filter))                                       \
  X(int32_t, FtsDelete, (int32_t handle, int32_t recNo), (handle, recNo))                       \
  X(int32_t, FtsIsDelete, (int32_t handle, int32_t recNo), (handle, recNo))                     \
  X(int32_t, FtsUnDelete, (int32_t handle, int32_t recNo), (handle, recNo))                     \
  X(int32_t, FtsNextRec, (int32_t handle), (handle))                                            \
  X(int32_t, FtsNumRecs, (int32_t handle), (handle))                                            \
  X(int32_t, FtsSet, (int32_t handle, const char* query), (handle, query))                      \
  X(int32_t, FtsVerify, (int32_t handle, const char* query, const char* target, int32_t type),  \
    (handle, query, target, type))                                                              \
  X(const char*, FtsVersion, (void), ())

#define FTS_DECLARE(ret, name, params, args) FTS_API ret name params;
FTS_ENTRIES(FTS_DECLARE)
#undef FTS_DECLARE

#ifdef __cplusplus
}
#endif

#endif /* FTS32_H */
