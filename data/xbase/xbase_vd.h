// The xBase engine's entry points. Texts pass as zero-terminated 8-bit strings; a null pointer is
// "nil". An open table is a work area numbered 1..255; most calls act on the selected one.
// Calls that fail record the engine's error, readable with vd_LastError / vd_LastErrorText.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

// Start and end.
void vd_SetStringType(int type);
void vd_ErrorLevel(int level);
std::string vd_Version();
void vd_CloseAll();
int vd_LastError(); // 0 or the negative code of the last failure
std::string vd_LastErrorText();

// Work areas.
int vd_Select(int area); // returns the area selected before
int vd_WorkArea(const char* alias);
// 65002: area n open; 3000: number of orders; 3001: the production index is there but could not
// be opened (damaged, half-written, unreadable) or not for writing: its negative error code, else
// 0 — the program rebuilds the index then, and writes through the area fail until it is deleted; 1000/1002: soft-seek/exact setting; 1001/1003 set
// them to n; 65000: address of the current record buffer; 65010/65008: size/address of the state
// block the table layer saves around a field write (nothing to save: 0); 65012: field n is
// variable-length (never); 65005, 65006, 1006, 1009: accepted, 0.
intptr_t vd_SysProp(int code, intptr_t value);

// mode 0 shared, 1 read-only, 2 exclusive; driver 2 (DBF with CDX) — the others open the same way.
int vd_Use(const char* path, const char* alias, int mode, int driver);
int vd_Close();

// Creating a table.
int vd_CreateNew(const char* path, const char* alias, int driver, int fieldCount);
int vd_CreateField(const char* name, const char* type, int width, int decimals);
int vd_CreateExec();

// Fields (1-based numbers).
int vd_FieldCount();
std::string vd_FieldName(int field);
std::string vd_FieldType(int field);
int vd_FieldWidth(int field);
int vd_FieldDecimals(int field);
int vd_FieldOffset(int field);
int vd_FieldNum(const char* name);
int vd_RecSize();

// Records. vd_Replace kinds: 1024 text, 1056 date text "mm/dd/yy" (or "mm/dd/yyyy"), 128 logical,
// 8 number, 3072 memo (no memo fields here: refused).
int vd_GetRecord(char* buffer);
int vd_PutRecord(const char* buffer);
int vd_AppendBlank();
int vd_Delete();
int vd_Recall();
int vd_Deleted();
int vd_Commit();
int vd_Replace(const char* field, int kind, const char* text);
int vd_Replace(const char* field, int kind, double number);
int vd_Replace(const char* field, int kind, bool logical);
std::string vd_GetString(const char* field);
std::string vd_GetTrimString(const char* field);
std::string vd_GetDateString(const char* field);
int vd_GetLogical(const char* field);
char* vd_GetMemo(const char* field, int flags); // no memo fields: null
void vd_MemDealloc(char* memo);

// Moving.
int vd_GoTop();
int vd_GoBottom();
int vd_Skip(long count);
int vd_Go(long recno);
long vd_RecNo();
long vd_RecCount();
int vd_Bof();
int vd_Eof();
int vd_Rlock(long recno);  // 0 = refused
int vd_Unlock(long recno); // 0: all

// Indexes. vd_IndexTag: file "" is the production CDX named after the table; option is kept for
// the callers' sake and has no effect; flag non-zero builds a descending tag. Returns the new
// order (> 0), or 0 on failure.
int vd_IndexTag(const char* file, const char* tag, const char* key, int option, int flag, const char* condition);
int vd_IndexOpen(const char* file);
int vd_CloseIndexes();
int vd_SetOrder(int order); // 0 = record order; returns the order before
int vd_IndexOrd();
int vd_TagArea(const char* tag); // 0 = no such tag
std::string vd_TagName(int order);
std::string vd_IndexName(int order);
std::string vd_IndexKey(int order); // 0: the current order
int vd_IndexKeyField(int order);    // the field a one-field key consists of, else 0
std::string vd_KeyData();
int vd_Seek(const char* key); // non-zero = found
int vd_SetScope(const char* low, const char* high);

// Expressions and filters.
int vd_EvalTest(const char* expression); // 1 text, 2 number, 3 logical, 4 date, 0 invalid
std::string vd_EvalString(const char* expression);
int vd_EvalLogical(const char* expression);
int vd_Query(const char* expression); // nil clears
long vd_QueryRecCount();
std::string vd_DBFilter();

// Settings (each returns the value before).
int vd_SetDeleted(int on);
int vd_SetCentury(int on);
int vd_SetDateFormat(int format);
int vd_SetExact(int on);
int vd_SetSoftSeek(int on);
int vd_SetLockTimeout(int seconds);
int vd_SetMemoBlockSize(int size);
int vd_SetFastRead(int on);
// Pack and index builds report their progress in percent to the hook; an empty hook removes it.
void vd_SetGaugeHook(std::function<void(int percent)> hook);
int vd_Pack();

// Beyond the engine's entry points: what the table layer asks.
namespace zn::xbase {

// Rows of the selected table that `condition` (a logical xBase expression; null or empty: every
// row) and the Deleted setting let through, whatever the area's filter, order and scope: what a
// grid shows as "rows matching the archive filter" without setting that filter. Counted from an
// index tag when one holds exactly those rows (a tag on the logical field the condition tests,
// or one whose FOR condition is the condition), else by reading the table; vd_QueryRecCount
// counts the current view the same way. -1 on failure (vd_LastError tells). The current record
// stays where it was.
long CountRowsMatching(const char* condition);

} // namespace zn::xbase
