// The hook slots: 25 numbered places where the application and the runtime
// put callback functions. Each slot has its own signature; the user of a
// slot casts to it with hk_get_as.
#pragma once
#include "runtime/core/types.h"

namespace rt {

constexpr int kHookSlots = 25;
constexpr int kHookRefused = 255;

namespace hook {
enum : int {
    FieldResolver = 0,  // screen-field names in expressions
    ExecProc = 1,       // EXEC$ runs a procedure
    LineColumn = 2,     // "_" calls that are not built-in functions
    WorkRelation = 3,   // FILEREL during an accumulation
    AppFirst = 4,
    AppLast = 17,
    ImportPass2 = 21,
    ToolsMenu = 22,
    SqlProgress = 23,
};
}

using HookFn = void (*)();

// Returns the slot number, or 255 (and changes nothing) for a slot above 24.
int hk_register(HookFn f, int slot);
HookFn hk_get(int slot);  // nullptr when empty or out of range
void hk_clear_all();

template <class F>
int hk_register_as(F* f, int slot) { return hk_register(reinterpret_cast<HookFn>(f), slot); }
template <class F>
F* hk_get_as(int slot) { return reinterpret_cast<F*>(hk_get(slot)); }

}  // namespace rt
