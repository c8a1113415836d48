// Internals shared by the window manager's modules.
#pragma once
#include <string>
#include <vector>

#include "runtime/ui/wm.h"

namespace rt::ui {

// The procedure of a screen window (dispatch.cpp).
int screen_proc(const plat::WndEvent& ev, void* ctx);
// Every focus report passes here, so that a window knows it came back.
void focus_seen(int w);
// Forgets the screen records' indices and the dispatch state.
void dispatch_reset();
void progress_reset();
void script_reset();
void fonts_reset();
void wstack_reset();
// Child instances get a terminal of their own (or this one) to show in.
void launcher_install();

// The window system has started (nothing is started just to ask).
bool started();
// Status 179 with the window system's reason as detail.
IER window_error(std::string_view what);

// The interpreter's ports: a cancel asked for (and taken), and WAIT KEY,
// which first takes the keys typed while the procedure ran.
bool script_cancel_requested();
IER script_wait_key(int* keyclass);

// The list-selection window over items already split.
int select_items(StrRef caption, const std::vector<std::string>& items, bool buttons, bool at_focus, IER* st);

// The fields of a comma list, trimmed and unquoted, at most max of them.
std::vector<std::string> split_items(StrRef list, int max);

}  // namespace rt::ui
