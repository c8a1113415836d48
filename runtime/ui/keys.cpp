// Keys and commands into screen events. The tables are the contract between
// the screens and the keyboard: a key is first reduced to its key class,
// which the key map of the current screen turns into an event.
#include "runtime/core/sysvar.h"
#include "runtime/ui/wm.h"

namespace rt {
namespace {

using namespace plat;

constexpr int NAV(int k) { return sev_make(sev::Nav, k); }

struct MapRow {
    int keyclass, map0, map1;
};
constexpr MapRow kKeyMaps[] = {
    {keycls::Enter, sev::NextField, sev::NextField},
    {keycls::Escape, sev::Cancel, sev::Cancel},
    {keycls::ShiftTab, sev::PrevField, sev::PrevField},
    {keycls::Tab, sev::NextField, sev::NextField},
    {keycls::F1, sev::Help, sev::Help},
    {keycls::F1 + 1, sev::Recall, sev::Recall},
    {keycls::F1 + 2, NAV(nav::BLS), NAV(nav::MDE)},
    {keycls::F1 + 3, NAV(nav::NLS), 0},
    {keycls::F1 + 4, NAV(nav::PRN), NAV(nav::PRN)},
    {keycls::F1 + 5, NAV(nav::FND), NAV(nav::FND)},
    {keycls::F1 + 6, NAV(nav::IMP), NAV(nav::IMP)},
    {keycls::F1 + 7, NAV(nav::DEL), NAV(nav::DEL)},
    {keycls::F1 + 8, NAV(nav::INS), NAV(nav::INS)},
    {keycls::F1 + 9, NAV(nav::DDE), NAV(nav::DDE)},
    {keycls::F1 + 10, NAV(nav::DDE), NAV(nav::MDE)},
    {keycls::Up, sev::Up, sev::Up},
    {keycls::PageUp, NAV(nav::PRV), NAV(nav::PRV)},
    {keycls::Down, sev::Down, sev::Down},
    {keycls::PageDown, NAV(nav::NXT), NAV(nav::NXT)},
    {keycls::CtrlEnd, sev::Confirm, sev::Confirm},
};

}  // namespace

int key_class(int key) {
    // A key with Alt comes as a system key and is not one of the screen's.
    if (key & WND_K_ALT) return keycls::Other;
    if (key == (WND_K_TAB | WND_K_SHIFT)) return keycls::ShiftTab;
    if (key == (WND_K_END | WND_K_CTRL)) return keycls::CtrlEnd;
    // Otherwise the key decides, whatever Shift and Ctrl say.
    int base = key & ~(WND_K_SHIFT | WND_K_CTRL);
    if (base >= WND_K_F1 && base <= WND_K_F1 + 10) return keycls::F1 + (base - WND_K_F1);
    switch (base) {
    case WND_K_ENTER: return keycls::Enter;
    case WND_K_TAB: return keycls::Tab;
    case WND_K_ESC: return keycls::Escape;
    case WND_K_UP: return keycls::Up;
    case WND_K_PGUP: return keycls::PageUp;
    case WND_K_DOWN: return keycls::Down;
    case WND_K_PGDN: return keycls::PageDown;
    default: return keycls::Other;
    }
}

int key_event(int keymap, int keyclass) {
    bool second = keymap == 1;
    for (const MapRow& r : kKeyMaps)
        if (r.keyclass == keyclass) return second ? r.map1 : r.map0;
    return sev::None;
}

int command_event(int id, int code) {
    if (code == WND_N_DBLCLK) id = ctlid::Ok;  // a double-click confirms
    int ev = sev::None;
    if (code == WND_N_SELENDOK) ev = sev::Notify9;
    else if (id >= ctlid::MenuFirst && id <= ctlid::MenuLast) ev = sev_make(sev::MenuCommand, id - ctlid::MenuFirst);
    else if (id >= ctlid::PopupFirst && id <= ctlid::PopupLast) ev = sev_make(sev::Popup, id - ctlid::PopupFirst);
    else if (id >= ctlid::NavFirst && id <= ctlid::NavLast) ev = NAV(id - ctlid::NavFirst);
    else if (id == ctlid::Ok) ev = NAV(nav::Confirm);
    else if (id == ctlid::Status) ev = NAV(nav::StatusButton);
    else if (id >= ctlid::AppFirst && id <= ctlid::AppLast) ev = sev_make(sev::AppButton, id - ctlid::AppFirst);
    else if (id >= ctlid::AppSecond && id < ctlid::LabelBase) ev = sev_make(sev::AppButton2, id - ctlid::AppSecond);
    if (ev) sysv_set(sysv::LASTKEY, keycls::Other);
    return ev;
}

}  // namespace rt
