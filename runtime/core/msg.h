// The message catalogue: the runtime's built-in texts, the application's
// block, and the language file that overrides them.
#pragma once
#include "runtime/core/types.h"

namespace rt {

constexpr int kLangOffsets = 256;  // offset entries of a loaded language file
constexpr int kLangMaxLines = 255; // a file with more lines is not used

// The text of a message: key = four-digit code, optionally a blank and a
// default text. A new scratch string; empty when the code has no entry.
StrRef msg(StrRef key);
inline StrRef msg(std::string_view key) { return msg(sr(key)); }
StrRef msg(int code);
// The runtime's own text of a code, whatever a language file says: a view
// into static storage.
StrRef msg_builtin(int code);

// The application's block of texts (codes from 1001 on): TAB-separated
// entries "NNNN text". The text must stay alive (a literal).
void msg_set_app_block(std::string_view block);

// Language file state.
enum class LangState { NotTried, Tried, Loaded };
LangState lang_state();
// The language file is looked up only once the language and the search path
// are set; until then lookups give the built-in texts.
void lang_enable(bool on);
// Forgets a loaded language file (for a new start-up and for tests).
void lang_reset();
// Loads the language file now (as the first lookup would). Returns the state.
LangState lang_load();

// Position 1..5 of the language item in "EN,ES,FR,DE,IT", 0 when none.
int lang_number();
// HELP.HLP -> HELP_es.HLP for language 2; langno -1 takes the current one.
StrRef lang_file_name(StrRef name, int langno);

}  // namespace rt
