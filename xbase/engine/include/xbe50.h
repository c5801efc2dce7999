/*
 * The xBase engine library: C interface.
 *
 * One process-wide current work area (xb_Select); record numbers start at 1;
 * text is Windows-1252, NUL-terminated. Functions returning `const char*`
 * return a pointer into a buffer owned by the library that stays valid until
 * the next call of any entry. Boolean results are 1 (true) or 0 (false).
 * Every failing entry leaves a text in xb_LastError().
 *
 * Writes: a table opened for shared use writes every record, its index pages
 * and the header at once. A table opened exclusively keeps written records,
 * index pages and the header in bounded caches; they reach the files at
 * xb_Commit, at close and when the cache needs the room, so files copied
 * while the table is open exclusively may lack the latest writes. xb_Commit
 * and close also flush the files to disk.
 *
 * The library is loaded at run time (dlopen) by TXBEEngine; tools may link it
 * directly. XBE_ENTRIES lists every exported entry with its signature so the
 * binding and the library cannot drift apart.
 */
#ifndef XBE50_H
#define XBE50_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define XBE_API __attribute__((visibility("default")))

/* Every program that opens a table file holds a byte-range lock on this
 * offset of it while the file is open: shared for shared use, exclusive for
 * exclusive use, so two opens conflict where Windows refuses the second
 * with a sharing violation. Record and append locks lie just above it. */
#define XB_USE_LOCK_OFFSET (((int64_t)1) << 40)

/* Open modes of xb_Use. */
#define XB_MODE_SHARED 0
#define XB_MODE_READONLY 1
#define XB_MODE_EXCLUSIVE 2
/* Drivers of xb_Use / xb_Create. */
#define XB_DRIVER_NTX 1
#define XB_DRIVER_FOX 2
#define XB_DRIVER_NSX 3
/* xb_SysProp properties. */
#define XB_PROP_ORDER_COUNT 3000 /* number of orders of the current work area */
#define XB_PROP_DESCENDING 3002  /* current order is descending */
/* xb_IndexType results. */
#define XB_INDEX_NONE 0
#define XB_INDEX_NORMAL 1
#define XB_INDEX_UNIQUE 2
#define XB_INDEX_CANDIDATE 4

/*
 * X(return type, name, parameter list, argument names)
 */
#define XBE_ENTRIES(X)                                                                           \
  /* Library */                                                                                  \
  X(int16_t, xb_SetStringType, (int16_t type), (type))                                           \
  X(const char*, xb_LastError, (void), ())                                                       \
  X(const char*, xb_Version, (void), ())                                                         \
  /* Collation pass-throughs; the default (machine order) is always in force. */                 \
  X(int16_t, xb_SetSystemCollation, (void), ())                                                  \
  X(int16_t, xb_SetMachineCollation, (void), ())                                                 \
  X(int16_t, xb_AddDudenCollation, (void), ())                                                   \
  X(int16_t, xb_AddEtecCollation, (void), ())                                                    \
  X(int32_t, xb_GetSystemLocale, (void), ())                                                     \
  X(const char*, xb_ViewSystemCharOrder, (void), ())                                             \
  /* Work areas. xb_Use returns the new work area (made current), 0 on failure. */               \
  X(int16_t, xb_Use, (const char* path, const char* alias, int16_t mode, int16_t driver),        \
    (path, alias, mode, driver))                                                                 \
  X(int16_t, xb_Select, (int16_t workArea), (workArea))                                          \
  X(int16_t, xb_WorkArea, (const char* alias), (alias))                                          \
  X(int16_t, xb_Close, (void), ())                                                               \
  X(int16_t, xb_CloseAll, (void), ())                                                            \
  /* Settings */                                                                                 \
  X(int16_t, xb_SetEpoch, (int16_t year), (year))                                                \
  X(int16_t, xb_SetDeleted, (int16_t on), (on))                                                  \
  X(int16_t, xb_SetTurboRead, (int16_t on), (on))                                                \
  X(int16_t, xb_IsEncrypted, (int16_t workArea), (workArea))                                     \
  /* Record layout; field numbers from 1; offsets 1-based (byte 1 = deletion mark). */          \
  X(int16_t, xb_FieldCount, (void), ())                                                          \
  X(const char*, xb_FieldName, (int16_t field), (field))                                         \
  X(const char*, xb_FieldType, (const char* name), (name))                                       \
  X(int16_t, xb_FieldOffset, (const char* name), (name))                                         \
  X(int16_t, xb_FieldWidth, (const char* name), (name))                                          \
  X(int16_t, xb_FieldDecimals, (const char* name), (name))                                       \
  X(int32_t, xb_RecSize, (void), ())                                                             \
  X(int32_t, xb_SysProp, (int16_t prop, int32_t arg), (prop, arg))                               \
  /* Orders; 0 is natural order. xb_SetOrder returns 1 when the order exists. */                \
  X(int16_t, xb_SetOrder, (int16_t order), (order))                                              \
  X(int16_t, xb_IndexOrd, (void), ())                                                            \
  X(const char*, xb_TagName, (int16_t order), (order))                                           \
  X(const char*, xb_IndexName, (int16_t order), (order))                                         \
  X(const char*, xb_IndexKey, (int16_t order), (order))                                          \
  X(const char*, xb_IndexFor, (int16_t order), (order))                                          \
  X(int16_t, xb_IndexType, (int16_t order), (order))                                             \
  /* Positioning in the current order */                                                         \
  X(int16_t, xb_GoTop, (void), ())                                                               \
  X(int16_t, xb_GoBottom, (void), ())                                                            \
  X(int16_t, xb_Skip, (int32_t count), (count))                                                  \
  X(int16_t, xb_Go, (int32_t recNo), (recNo))                                                    \
  X(int32_t, xb_RecNo, (void), ())                                                               \
  X(int16_t, xb_Bof, (void), ())                                                                 \
  X(int16_t, xb_Eof, (void), ())                                                                 \
  X(int32_t, xb_RecCount, (void), ())                                                            \
  X(int16_t, xb_Seek, (const char* key), (key))                                                  \
  /* Records: raw DBF record of xb_RecSize bytes (byte 0 = deletion mark). */                   \
  X(int16_t, xb_GetRecord, (char* buffer), (buffer))                                             \
  X(int16_t, xb_PutRecord, (const char* buffer), (buffer))                                       \
  X(int16_t, xb_AppendBlank, (void), ())                                                         \
  X(int16_t, xb_Deleted, (void), ())                                                             \
  X(int16_t, xb_Delete, (void), ())                                                              \
  X(int16_t, xb_Recall, (void), ())                                                              \
  /* Memo fields of the current record. xb_MemoLen gives the length (-1 on error); */           \
  /* xb_MemoRead copies at most `size` bytes and returns the count copied; */                    \
  /* xb_MemoWrite stores the value, updating the record's block reference. */                    \
  X(int32_t, xb_MemoLen, (const char* field), (field))                                           \
  X(int32_t, xb_MemoRead, (const char* field, char* buffer, int32_t size), (field, buffer, size)) \
  X(int32_t, xb_MemoWrite, (const char* field, const char* data, int32_t len), (field, data, len)) \
  /* Locks and durability. xb_Unlock(0) releases every lock of the work area. */                \
  X(int16_t, xb_Rlock, (int32_t recNo), (recNo))                                                 \
  X(int16_t, xb_Locked, (int32_t recNo), (recNo))                                                \
  X(int16_t, xb_Unlock, (int32_t recNo), (recNo))                                                \
  X(int16_t, xb_Commit, (void), ())                                                              \
  /* Expressions on the current record */                                                        \
  X(const char*, xb_EvalString, (const char* expr), (expr))                                      \
  /* Creating. Field list: "NAME:TYPE:WIDTH[:DEC];..." e.g. "KNT_NR:N:8:0;BEZ:C:40". */          \
  X(int16_t, xb_Create, (const char* path, const char* fields, int16_t driver),                  \
    (path, fields, driver))                                                                      \
  /* Adds a tag to the production CDX (or writes the table's NTX) of the current work area; */  \
  /* flags: 1 descending, 2 unique, 4 candidate. Empty forExpr means none. */                     \
  X(int16_t, xb_CreateTag, (const char* tag, const char* keyExpr, const char* forExpr,           \
                           int16_t flags),                                                       \
    (tag, keyExpr, forExpr, flags))                                                              \
  /* Verifies every order of the current work area against the table; 1 when sound, */          \
  /* else 0 with the findings in xb_LastError(). */                                              \
  X(int16_t, xb_CheckIndexes, (void), ())

#define XBE_DECLARE(ret, name, params, args) XBE_API ret name params;
XBE_ENTRIES(XBE_DECLARE)
#undef XBE_DECLARE

#ifdef __cplusplus
}
#endif

#endif /* XBE50_H */
