// Status numbers, their names and texts, the error origin and the detail
// text that travels with an error.
#pragma once
#include "runtime/core/types.h"

namespace rt {

namespace ier {
enum : IER {
    OK = 0,
    KeyNotFound = 1,
    EndOfFile = 2,
    Info = 121,  // informational; its text is the detail text
    UserCanceled = 122,
    NullExpression = 123,
    UndefWarning = 124,
    TypeWarning = 125,
    BadUserData = 126,
    OutOfData = 127,
    TypeMismatch = 128,
    LoopFailure = 129,
    DiskIO = 130,
    FileIO = 131,
    ProcedureExecution = 132,
    PRCSTCKERROR = 133,
    TRANSUPERROR = 134,
    VARHANDLERROR = 135,
    DISKREADERROR = 136,
    DISKWRITERROR = 137,
    DISKOPENERROR = 138,
    NETACCESERROR = 139,
    BADEXPRESION = 140,
    INTERNALERROR = 141,
    FARHEAPINIERR = 142,
    ScreenEnviron = 143,
    INDEXCMDERROR = 144,
    OUTOFMEMORY = 145,
    STRINGTOOLONG = 146,
    SINTAXERROR = 147,
    FEATUREREMOVED = 148,
    DIMSTRUCERROR = 149,
    BADSTRINGTYPE = 150,
    BADFILENUMBER = 151,
    FORMATFAILURE = 152,
    STRCONCATERR = 153,
    MEMORYALLOCERR = 154,
    EXPCALCERROR = 155,
    LOADSTRERROR = 156,
    VARNAMEERROR = 157,
    BADCOMMANDLINE = 158,
    STROUTBOUND = 159,
    MEMTESTERROR = 160,
    FILEOUTBOUND = 161,
    SQLERROR = 162,
    BADINPUTDATA = 163,
    FileNotFound = 164,
    FileExist = 165,
    FileOpening = 166,
    CHILDEXECERROR = 167,
    DATAOUTBOUND = 168,
    FILENOTINIT = 169,
    COMMONCTLERROR = 170,
    DEVICETIMEOUT = 171,
    DEVICEIOERROR = 172,
    SYSTEMCMDERROR = 173,
    PermissionDenied = 175,
    StructMemError = 176,
    ScreenStructErr = 177,
    MemoryLeaks = 178,
    WindowsControlError = 179,
    MemoryOverflow = 180,
    VariableScreenField = 181,
    DataAlreadyExist = 183,
    GraphicSupportLow = 185,
    FromOrigin = 0xFFFF,  // "the status held in the error origin record"
};
}  // namespace ier

// Module numbers: they name the origin of an error and tag memory blocks.
namespace mod {
enum : int {
    None = 0,
    STRINGINIT = 1,
    STRINGASSIGN = 2,
    STRCONCAT = 3,
    VARNMASSIGN = 4,
    SQLCONNECT = 5,
    SQLEXEC = 6,
    EXEC_COMPILER = 7,
    MallocMemAcums = 8,
    ExecRunTime = 9,
    VarStruct = 10,
    ExpExec = 11,
    Sort = 12,
    BufferFld = 13,
    DynStrings = 14,
    StructFuncs = 15,
    FormatStrings = 16,
    Streams = 17,
    DataFile = 18,
    LocalLists = 19,
    Screens = 20,
    Devices = 21,
    HtmlScan = 22,
};
constexpr int kCount = 22;
}  // namespace mod

// Name of a status ("Undefined" outside 122..185); static storage.
std::string_view status_name(IER st);
// Name of a module ("" for 0 or out of range); static storage.
std::string_view module_name(int module);

// Text of a status for the user, and the full error text with module and
// detail. Both are new scratch strings.
StrRef status_text(IER st);
StrRef error_text(IER st);

// Records where the first error came from. With cond 1 the record is set
// only while it is empty and st >= 128; cond 2 sets it unconditionally (used
// with st 0 to clear it); cond 0 does nothing.
void err_origin(int cond, int module, IER st);
void err_origin_get(IER* st, int* module);

// Sets (or appends to) the detail text; returns st so a caller can set the
// detail and return the status in one step.
IER err_detail(IER st, StrRef text, bool append = false);
IER err_detail(IER st, std::string_view text, bool append = false);
StrRef err_detail_get();  // pointer into the string table; copy for long use
void err_detail_clear();

// Records the origin (cond 1) and the detail in one step; returns st.
IER err_raise(IER st, int module, std::string_view detail);

}  // namespace rt
