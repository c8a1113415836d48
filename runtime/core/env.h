// Environment items, folder kinds, %NAME% expansion, the search path and the
// path helpers.
#pragma once
#include "runtime/core/types.h"

namespace rt {

// Items of the environment group (group 0 of the string table).
namespace env {
enum : int {
    FormatParams = 0,
    CommandLine = 1,
    ApName = 2,
    ApDescrip = 3,
    LangModule = 4,
    DocPath = 5,
    DataPath = 6,
    HelpPath = 7,
    FuncList = 8,
    ButLabels = 9,
    MaskParms = 10,
    Database = 11,
    Database2 = 12,
};
}
extern const std::string_view kLanguages;    // "EN,ES,FR,DE,IT"
extern const std::string_view kFolderKinds;  // "APPPATH_RUNPATH,..."

namespace folder {
enum : int { RunPath = 1, Default, Data, Docs, Help, Backup, BackRel };
}

StrRef env_get(int item);  // pointer into the string table
IER env_set(int item, StrRef value);
IER env_set(int item, std::string_view value);

// The two-character file prefix (field 1 of item 2, cut to 2 characters).
StrRef env_prefix();

// Folder of kind 1..7 as a new scratch string ("" for other kinds).
StrRef env_folder(int kind);

// Replaces every %NAME% (see the name rules of start-up). Values are not
// expanded again, so a value holding "%...%" cannot make the expansion loop.
// With mask_password, %DATABASE_PASSW% gives "****": that form is the one for
// messages and details.
StrRef env_expand(StrRef text, bool mask_password = false);

// Full name of the first existing file: the name as written, then each folder
// of the search path (item 5) joined with it; wildcards allowed. "" when none.
StrRef env_find(StrRef name);

// Path helpers. Both separators are accepted; join inserts '\', or '/' after
// a folder written with '/' only (as the OS gives them).
StrRef path_join(StrRef a, StrRef b);
StrRef path_resolve(StrRef base, StrRef rel);
StrRef path_drive(StrRef p);   // views
StrRef path_folder(StrRef p);
StrRef path_name(StrRef p);
StrRef path_ext(StrRef p);
bool path_has_folder(StrRef p);

}  // namespace rt
