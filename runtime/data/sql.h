// The SQL connection layer: the one door to the database server. It owns
// the connections (from the parameter files, the command line or the
// connection dialog, remembered and handed to child instances), runs one
// statement at a time with its result kept in a numbered slot, maps server
// errors to statuses, quotes text literals and reads the catalogue into file
// structures. Nothing else in the runtime talks to libpq.
#pragma once
#include "runtime/core/types.h"

struct pg_conn;
struct pg_result;

namespace rt {

// The slot table: 8 slots, each a connection (shared by several slots when
// a connection needs further results at once) and a result. _SQLSTK holds
// the current slot.
constexpr int kSqlSlots = 8;
struct SqlSlot {
    pg_conn* conn = nullptr;
    pg_result* res = nullptr;
};
const SqlSlot& sql_slot(int n);  // n 0..7; any other n gives an empty slot
// The current slot number, or -1 (after 168 "sqlControlFailure" has been
// reported) when _SQLSTK holds a number the layer does not work with.
int sql_current();

// Connect options: the catalogue load (either of the two lowest bits: one
// structure per table; bit 2 also its columns and indexes) and the kind of
// connection, which names the remembered-parameters file.
namespace sqlopt {
enum : int {
    Tables = 1,
    Columns = 2,
    KindUser = 0,    // sqlusrprm.dat
    KindAdmin = 16,  // sqladmprm.dat
    KindUser2 = 32,  // slqusrpr2.dat
    KindNone = 48,   // no file
    KindMask = 48,
};
}
// The remembered-parameters file of a kind (0..3, or options & KindMask).
StrRef sql_kind_file(int kind);

constexpr int kAuxConnected = 2048;  // _AUXSTAT: a database is connected

// Opens a connection into the current slot, or the first slot without one
// when the current holds one. 163 for an empty host (nothing is contacted),
// 162 with the server's message when the connection fails, 168 with no slot
// left. An empty user is "guest". The password is never logged or shown.
IER sql_connect(StrRef host, StrRef db, StrRef user, StrRef password, int options);
// Connect with a connection text "host,db,user,password,remember": four or
// more items connect with those (trimmed and unquoted); a remember item
// that is a number other than 0 writes the text over the kind's file once
// the connection has succeeded (mode 0600). Fewer items: the command line's
// named options sqlhost, database, user, passw, else the file named by the
// text (sqlparams.dat when empty); a missing file gives 162.
IER sql_connect_text(StrRef text, int options);
// A connection text of the four values (each quoted when it holds a comma,
// a quote or edge blanks) and the remember item (omitted when < 0).
StrRef sql_conn_text(StrRef host, StrRef db, StrRef user, StrRef password, int remember = -1);

// The start-up connection: the hand-over file of a child instance (a
// program run with option RUN), else sqlusrprm.dat for a child; else the
// command line's or sqlparams.dat's parameters when there are any. When
// nothing connects, the connection dialog asks until a connection succeeds
// or the dialog is left (its status). On success the connection text is
// environment item 11, or 12 when 11 is set already.
IER sql_connect_startup(int options);
// True when start-up has a connection to make without asking: a hand-over
// file, sqlusrprm.dat or sqlparams.dat found, or sqlhost on the command line.
bool sql_startup_configured();

// The connection dialog (an Accept window of title 0090 and layout 0091,
// 0092 or 0093): the defaults are a connection text; 0 with the entered
// connection text in *entered, else the status it was left with. The
// default takes the next line of the INPUT answer file while one is being
// replayed, else gives 122: nothing waits for a person.
using SqlDialogFn = IER (*)(int layout, StrRef defaults, StrRef* entered);
void sql_set_dialog(SqlDialogFn f);  // nullptr: the default

// Closes the current slot's connection and clears every slot that shares
// it; _SQLSTK goes down to a slot that still has a connection, or 0.
IER sql_disconnect();
void sql_disconnect_all();  // shutdown

// Runs one statement on the current connection. A result with rows goes to
// the given slot, or with kSqlChoose one row to the connection's base slot
// and more rows to a free slot from 1 up; that slot becomes current.
// 0; 2 for a query without rows (the slots stay as they were); 163 for an
// empty statement; 183 for a duplicate key or object; 162 for any other
// failure, with the server's message and the statement in the detail; 168
// with no free slot or a slot out of range; the progress callback's status
// when it cancelled. *rows (optional) gets the row count (rows of a query,
// rows changed by a command).
constexpr int kSqlChoose = -1;
IER sql_exec(StrRef statement, int slot = kSqlChoose, long long* rows = nullptr);
IER sql_exec_simple(StrRef statement);
// The first column of the first row as a number, 0 on failure; the slot
// table and _SQLSTK are as before.
long long sql_count(StrRef statement);
// A slot for a result of its own on the current connection: the first from
// 1 up whose connection is the current one or none and which holds no
// result; -1 when none is free.
int sql_free_slot();

// Every statement sent (or refused) is told to this hook with its status,
// whatever _TRACE says: the record layer's tests and tools see exactly what
// went to the server. nullptr: none. The text is masked as a log line is.
using SqlStatementFn = void (*)(StrRef statement, IER st);
void sql_set_statement_hook(SqlStatementFn f);

// Hook slot 23: the progress display of a statement: phase 0 when it is
// sent, 2 while it runs, 1 when it has ended. A non-zero answer cancels the
// statement on the server and becomes the statement's status.
using SqlProgressFn = IER (*)(int phase);

// Result access. Value makes the slot current (when it is one of 0..7) and
// gives a view of the value, valid until that result is released; an empty
// text when the slot holds no result or the position is outside it.
StrRef sql_value(int row, int column, int slot);
int sql_column(StrRef name);      // in the current result, -1 when none
int sql_rows(int slot);           // makes the slot current; 0 without a result
int sql_columns(int slot);        // column count of the slot's result, 0 without one
void sql_release(int slot = -1);  // -1: the current slot

// A text as an SQL literal that ends where it should, whatever bytes it
// holds: a text without quote characters or backslashes in apostrophes,
// unchanged; otherwise E'...' with \x27, \x22 and \\ for the apostrophe,
// the double quote and the backslash. A new scratch string.
StrRef sql_quote(StrRef text);
// A name in double quotes, an inner double quote doubled.
StrRef sql_quote_name(StrRef name);
// The password of a login role as the server keeps it, computed here for
// the current connection (its preferred method), so that a CREATE or ALTER
// ROLE never carries the password itself. A new scratch string; 162 with
// no connection or when the server's method is unknown.
StrRef sql_encrypt_password(StrRef user, StrRef password);

// The tables of schema public, by name, comma-separated ("" on failure).
StrRef sql_table_list();
// One file structure per table of schema public (at most 29, by name);
// with sqlopt::Columns also their fields and keys, and an integer variable
// named like each table holding its structure number.
IER sql_load_catalogue(int options);

// The server's error text as the user sees it: trailing line ends, blanks,
// full stops and digits removed, and the UTF-8 forms of «, », ó and ñ
// turned into Windows-1252 ones. A new scratch string.
StrRef sql_error_text(StrRef text);
// A statement as it may be logged or shown: the text after PASSWORD is
// masked.
StrRef sql_mask(StrRef statement);

}  // namespace rt
