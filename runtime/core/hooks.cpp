#include "runtime/core/hooks.h"

namespace rt {
namespace {
HookFn g_slots[kHookSlots];
}

int hk_register(HookFn f, int slot) {
    if (slot < 0 || slot >= kHookSlots) return kHookRefused;
    g_slots[slot] = f;
    return slot;
}

HookFn hk_get(int slot) { return (slot >= 0 && slot < kHookSlots) ? g_slots[slot] : nullptr; }

void hk_clear_all() {
    for (auto& s : g_slots) s = nullptr;
}

}  // namespace rt
