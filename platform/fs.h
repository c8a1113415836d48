// Files and paths: the one place where the runtime's Windows-style file
// names meet the OS. Names may use '\' or '/', may carry a drive prefix
// ("C:", mapped through the environment variable QV_DRIVE_C and so on, else
// dropped), and are looked up case-insensitively component by component when
// the exact name does not exist. Wildcards '*' and '?' follow Windows rules.
#pragma once
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

// The OS path for a runtime file name: separators turned to '/', drive
// mapped, and every existing component matched case-insensitively when the
// exact name is missing. Components that do not exist are kept as written.
std::string os_path(std::string_view name);

bool file_exists(std::string_view name);    // a regular file (or device)
bool folder_exists(std::string_view name);
// Names (without folder) of the files matching the pattern's last component,
// sorted; the folder part is looked up like any name.
std::vector<std::string> find_files(std::string_view pattern);
// True when name (one component) matches a Windows wildcard pattern,
// case-insensitively.
bool wild_match(std::string_view pattern, std::string_view name);
bool has_wildcards(std::string_view name);

FILE* open_file(std::string_view name, const char* mode);
int remove_file(std::string_view name);                       // 0 or -1
int rename_file(std::string_view from, std::string_view to);  // 0 or -1
int make_folder(std::string_view name);                       // 0 or -1
int change_folder(std::string_view name);                     // 0 or -1
std::string current_folder();

// Replaces (or creates) the file with data: a temporary file in the same
// folder is written, flushed and renamed over the name, so a crash never
// leaves a half-written file. 0, or -1 with nothing changed.
int rewrite_file(std::string_view name, std::string_view data);

// The folder for temporary files: $TMPDIR, else /tmp.
std::string temp_folder();
// Creates a new empty file (mode 0600) with a unique name ending in suffix in
// the temporary folder; returns its path, or "" on failure.
std::string make_temp_file(std::string_view suffix);

// Size and times of a file; false when it does not exist.
struct FileInfo {
    long long size = 0;
    long long created = 0, accessed = 0, written = 0;  // seconds since 1970
};
bool file_info(std::string_view name, FileInfo* out);

// The value of a Windows environment name as this system maps it (TEMP,
// USERPROFILE, APPDATA, ...): an exported variable of that name wins, then
// the Linux equivalent; unknown names are empty.
std::string win_env(std::string_view name);

// Absolute path of the running program.
std::string self_exe();

// Windows-1252 to UTF-8, for texts meant for people on a terminal.
std::string cp1252_to_utf8(std::string_view s);
// UTF-8 to Windows-1252, for texts people give; a character the code page
// lacks becomes '?'. Bytes that are not valid UTF-8 are taken as they are.
std::string utf8_to_cp1252(std::string_view s);

}  // namespace plat
