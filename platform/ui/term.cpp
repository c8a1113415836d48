// The terminal backend: the painted screen shown through ncursesw (UTF-8 on
// the terminal, Windows-1252 inside), keys and mouse read from it. The
// terminal is given back in a usable state on every way out: the normal
// shutdown, exit(), and fatal or terminating signals.
#define NCURSES_WIDECHAR 1
#include <curses.h>
#include <langinfo.h>
#include <locale.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "platform/fs.h"
#include "platform/ui/ui_impl.h"

namespace plat::ui {
namespace {

SCREEN* g_scr = nullptr;
bool g_utf8 = false;
wchar_t g_wide[256];           // Windows-1252 byte to its character
std::map<int, int> g_keymap;   // ncurses key code to ours
int g_pairs[17][17];           // colour pair per (fg, bg); index 16 is the default
int g_next_pair = 1;
bool g_default_colours = false;

// Signal state. The restore strings and terminal modes are saved at start so
// that a signal handler can put the terminal back with write() and
// tcsetattr() alone.
volatile sig_atomic_t g_interrupt = 0, g_terminate = 0, g_active = 0;
termios g_saved_tty;
bool g_have_tty = false;
char g_restore[256];
size_t g_restore_len = 0;

void emergency_restore() {
    if (!g_active) return;
    g_active = 0;
    if (g_restore_len) {
        ssize_t r = write(1, g_restore, g_restore_len);
        (void)r;
    }
    if (g_have_tty) tcsetattr(0, TCSANOW, &g_saved_tty);
}

void on_interrupt(int) { g_interrupt = 1; }

void on_terminate(int sig) {
    if (g_terminate) {  // asked twice: the program is stuck, leave now
        emergency_restore();
        _exit(128 + sig);
    }
    g_terminate = sig;
}

void on_fatal(int sig) {
    emergency_restore();
    signal(sig, SIG_DFL);
    raise(sig);
}

void install_signals() {
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sigemptyset(&sa.sa_mask);
    sa.sa_handler = on_interrupt;  // no SA_RESTART: a waiting read wakes up
    sigaction(SIGINT, &sa, nullptr);
    sa.sa_handler = on_terminate;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    sa.sa_handler = on_fatal;
    sa.sa_flags = SA_RESETHAND;
    for (int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGQUIT}) sigaction(s, &sa, nullptr);
}

void add_restore(const char* cap) {
    const char* s = tigetstr(cap);
    if (!s || s == (const char*)-1) return;
    size_t n = std::strlen(s);
    if (g_restore_len + n >= sizeof g_restore) return;
    std::memcpy(g_restore + g_restore_len, s, n);
    g_restore_len += n;
}

void add_literal(const char* s) {
    size_t n = std::strlen(s);
    if (g_restore_len + n >= sizeof g_restore) return;
    std::memcpy(g_restore + g_restore_len, s, n);
    g_restore_len += n;
}

// Keys with modifiers: the terminfo names where the terminal description has
// them, and the xterm sequences (which tmux and most emulators send) where it
// does not.
void map_modified_keys() {
    struct K { const char* cap; char final; int tilde; int key; };
    static const K keys[] = {
        {"kUP", 'A', 0, WND_K_UP}, {"kDN", 'B', 0, WND_K_DOWN}, {"kRIT", 'C', 0, WND_K_RIGHT},
        {"kLFT", 'D', 0, WND_K_LEFT}, {"kHOM", 'H', 0, WND_K_HOME}, {"kEND", 'F', 0, WND_K_END},
        {"kIC", 0, 2, WND_K_INS}, {"kDC", 0, 3, WND_K_DEL}, {"kPRV", 0, 5, WND_K_PGUP}, {"kNXT", 0, 6, WND_K_PGDN},
    };
    static const int mods[] = {0, 0, WND_K_SHIFT, WND_K_ALT, WND_K_SHIFT | WND_K_ALT, WND_K_CTRL,
                               WND_K_CTRL | WND_K_SHIFT, WND_K_CTRL | WND_K_ALT, WND_K_CTRL | WND_K_ALT | WND_K_SHIFT};
    int next = KEY_MAX + 1;
    auto bind = [&](const char* seq, int ours) {
        int code = key_defined(seq);
        if (code == 0) {
            while (key_defined(seq) == 0 && next < KEY_MAX + 400) {
                if (define_key(seq, next) == OK) { code = next++; break; }
                next++;
            }
        }
        if (code > 0 && !g_keymap.count(code)) g_keymap[code] = ours;
    };
    for (auto& k : keys) {
        for (int m = 2; m <= 8; m++) {
            std::string cap = std::string(k.cap) + char('0' + m);
            const char* s = tigetstr(cap.c_str());
            if (s && s != (const char*)-1 && *s) bind(s, k.key | mods[m]);
            char seq[16];
            if (k.final) std::snprintf(seq, sizeof seq, "\033[1;%d%c", m, k.final);
            else std::snprintf(seq, sizeof seq, "\033[%d;%d~", k.tilde, m);
            bind(seq, k.key | mods[m]);
        }
    }
}

int from_ncurses(int code) {
    switch (code) {
    case KEY_ENTER: return WND_K_ENTER;
    case KEY_BTAB: return WND_K_TAB | WND_K_SHIFT;
    case KEY_BACKSPACE: return WND_K_BKSP;
    case KEY_DC: return WND_K_DEL;
    case KEY_IC: return WND_K_INS;
    case KEY_HOME: case KEY_A1: case KEY_FIND: return WND_K_HOME;
    case KEY_END: case KEY_C1: case KEY_SELECT: return WND_K_END;
    case KEY_PPAGE: case KEY_A3: return WND_K_PGUP;
    case KEY_NPAGE: case KEY_C3: return WND_K_PGDN;
    case KEY_UP: return WND_K_UP;
    case KEY_DOWN: return WND_K_DOWN;
    case KEY_LEFT: return WND_K_LEFT;
    case KEY_RIGHT: return WND_K_RIGHT;
    case KEY_B2: return 0;
    case KEY_SLEFT: return WND_K_LEFT | WND_K_SHIFT;
    case KEY_SRIGHT: return WND_K_RIGHT | WND_K_SHIFT;
    case KEY_SHOME: return WND_K_HOME | WND_K_SHIFT;
    case KEY_SEND: return WND_K_END | WND_K_SHIFT;
    case KEY_SR: return WND_K_UP | WND_K_SHIFT;
    case KEY_SF: return WND_K_DOWN | WND_K_SHIFT;
    case KEY_SDC: return WND_K_DEL | WND_K_SHIFT;
    case KEY_SIC: return WND_K_INS | WND_K_SHIFT;
    case KEY_SNEXT: return WND_K_PGDN | WND_K_SHIFT;
    case KEY_SPREVIOUS: return WND_K_PGUP | WND_K_SHIFT;
    default: break;
    }
    if (code >= KEY_F(1) && code <= KEY_F(48)) {
        int n = code - KEY_F(1);  // xterm numbers shifted and control F-keys on
        int mods[] = {0, WND_K_SHIFT, WND_K_CTRL, WND_K_CTRL | WND_K_SHIFT};
        return (WND_K_F1 + n % 12) | mods[n / 12];
    }
    auto it = g_keymap.find(code);
    return it == g_keymap.end() ? 0 : it->second;
}

int to_cp1252(wint_t wc) {
    if (wc < 128) return int(wc);
    std::string u;
    unsigned cp = unsigned(wc);
    if (cp < 0x800) {
        u += char(0xC0 | (cp >> 6));
        u += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        u += char(0xE0 | (cp >> 12));
        u += char(0x80 | ((cp >> 6) & 0x3F));
        u += char(0x80 | (cp & 0x3F));
    } else {
        return 0;
    }
    std::string b = utf8_to_cp1252(u);
    if (b.size() != 1 || b[0] == '?') return 0;  // the code page lacks it
    return (unsigned char)b[0];
}

int colour(int c) { return COLORS >= 16 ? c : (c & 7); }

short pair_for(int fg, int bg) {
    int& p = g_pairs[fg][bg];
    if (p >= 0) return short(p);
    if (g_next_pair >= COLOR_PAIRS || g_next_pair > 32767) return 0;
    int f = fg == 16 ? -1 : colour(fg), b = bg == 16 ? -1 : colour(bg);
    if (!g_default_colours) {
        if (f < 0) f = COLOR_WHITE;
        if (b < 0) b = COLOR_BLACK;
    }
    if (init_pair(short(g_next_pair), short(f), short(b)) != OK) return 0;
    p = g_next_pair++;
    return short(p);
}

attr_t attrs_of(WndAttr a, short* pair) {
    attr_t r = 0;
    if (a & WND_A_BOLD) r |= A_BOLD;
    if (a & WND_A_REVERSE) r |= A_REVERSE;
    if (a & WND_A_UNDERLINE) r |= A_UNDERLINE;
    if (a & WND_A_DIM) r |= A_DIM;
    *pair = 0;
    if (has_colors() && (a & (WND_A_FG | WND_A_BG))) {
        int fg = (a & WND_A_FG) ? (a & 15) : 16, bg = (a & WND_A_BG) ? ((a >> 4) & 15) : 16;
        if (COLORS < 16 && fg != 16 && fg >= 8) r |= A_BOLD;  // bright by boldness
        *pair = pair_for(fg, bg);
    }
    return r;
}

unsigned decode_utf8(const std::string& u) {
    if (u.empty()) return '?';
    unsigned char b = u[0];
    if (b < 0x80) return b;
    if ((b & 0xE0) == 0xC0 && u.size() >= 2) return ((b & 0x1F) << 6) | (u[1] & 0x3F);
    if ((b & 0xF0) == 0xE0 && u.size() >= 3) return ((b & 0x0F) << 12) | ((u[1] & 0x3F) << 6) | (u[2] & 0x3F);
    return '?';
}

wchar_t glyph_char(char g) {
    if (g_utf8) return wchar_t(decode_utf8(glyph_utf8(g)));
    switch (g) {
    case WND_G_HLINE: return L'-';
    case WND_G_VLINE: return L'|';
    case WND_G_BLOCK: return L'#';
    case WND_G_SHADE: return L'.';
    case WND_G_UARROW: return L'^';
    case WND_G_DARROW: return L'v';
    case WND_G_LARROW: return L'<';
    case WND_G_RARROW: return L'>';
    default: return L'+';
    }
}

int t_open(std::string* err) {
    if (!isatty(0) || !isatty(1)) {
        *err = "the terminal backend needs a terminal on standard input and output";
        return WND_EINIT;
    }
    setlocale(LC_ALL, "");
    if (std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0) setlocale(LC_CTYPE, "C.UTF-8");
    g_utf8 = std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
    if (!std::getenv("ESCDELAY")) set_escdelay(25);  // Esc answers at once
    g_have_tty = tcgetattr(0, &g_saved_tty) == 0;
    g_scr = newterm(nullptr, stdout, stdin);
    if (!g_scr) {
        const char* t = std::getenv("TERM");
        *err = std::string("cannot use the terminal (TERM=") + (t ? t : "") + ")";
        return WND_EINIT;
    }
    set_term(g_scr);
    if (!std::getenv("ESCDELAY")) set_escdelay(25);
    cbreak();
    noecho();
    nonl();
    keypad(stdscr, TRUE);
    intrflush(stdscr, FALSE);
    meta(stdscr, TRUE);
    // Ctrl+S and Ctrl+Q are keys here, not flow control
    termios t;
    if (tcgetattr(0, &t) == 0) {
        t.c_iflag &= ~(IXON | IXOFF);
        tcsetattr(0, TCSANOW, &t);
        def_prog_mode();
    }
    st().mono = !has_colors();
    if (has_colors()) {
        start_color();
        g_default_colours = use_default_colors() == OK;
    }
    std::memset(g_pairs, -1, sizeof g_pairs);
    g_next_pair = 1;
    mousemask(BUTTON1_CLICKED | BUTTON1_DOUBLE_CLICKED | BUTTON3_CLICKED | BUTTON3_PRESSED | BUTTON4_PRESSED |
                  BUTTON5_PRESSED, nullptr);
    mouseinterval(200);
    g_keymap.clear();
    map_modified_keys();
    for (int i = 0; i < 256; i++) {
        wchar_t w = wchar_t(decode_utf8(cp1252_to_utf8(std::string(1, char(i)))));
        if (i < 32 || i == 127) w = L' ';
        else if (w >= 0x80 && w < 0xA0) w = L'?';  // the bytes the code page leaves undefined
        g_wide[i] = w;
    }
    g_restore_len = 0;
    add_literal("\033[?1000l\033[?1002l\033[?1006l");  // mouse reporting off
    add_restore("sgr0");
    add_restore("cnorm");
    add_restore("rmkx");
    add_restore("rmcup");
    g_interrupt = 0;
    g_terminate = 0;
    g_active = 1;
    install_signals();
    int r, c;
    getmaxyx(stdscr, r, c);
    st().rows = std::max(r, 1);
    st().cols = std::max(c, 1);
    return WND_OK;
}

void t_close() {
    if (!g_scr) return;
    g_active = 0;
    mousemask(0, nullptr);
    curs_set(1);
    endwin();
    delscreen(g_scr);
    g_scr = nullptr;
    if (g_have_tty) tcsetattr(0, TCSANOW, &g_saved_tty);
}

void t_show() {
    State& s = st();
    int rows, cols;
    getmaxyx(stdscr, rows, cols);
    rows = std::min(rows, s.rows);
    cols = std::min(cols, s.cols);
    for (int r = 0; r < rows; r++)
        for (int c = 0; c < cols; c++) {
            const WndCell& cell = s.screen[size_t(r) * s.cols + c];
            wchar_t wc[2] = {(cell.attr & WND_A_GLYPH) ? glyph_char(cell.ch) : g_wide[(unsigned char)cell.ch], 0};
            short pair;
            attr_t a = attrs_of(cell.attr, &pair);
            cchar_t cc;
            setcchar(&cc, wc, a, pair, nullptr);
            mvadd_wch(r, c, &cc);
        }
    if (s.cur_on && s.cur_row < rows && s.cur_col < cols) {
        curs_set(1);
        move(s.cur_row, s.cur_col);
    } else {
        curs_set(0);
        move(rows - 1, cols - 1);
    }
    wnoutrefresh(stdscr);
    doupdate();
}

int t_read(WndEvent* ev, int timeout_ms) {
    *ev = WndEvent{};
    for (;;) {
        if (g_terminate) return -1;  // asked to end: no more input
        if (g_interrupt) {
            g_interrupt = 0;
            ev->type = WND_EV_CLOSE;
            return 1;
        }
        // wait in slices so that the signal flags are seen
        wtimeout(stdscr, timeout_ms < 0 ? 250 : std::min(timeout_ms, 250));
        wint_t wc;
        int r = wget_wch(stdscr, &wc);
        if (r == ERR) {
            if (timeout_ms >= 0) return 0;
            continue;
        }
        if (r == KEY_CODE_YES) {
            if (wc == KEY_RESIZE) {
                int rr, cc;
                getmaxyx(stdscr, rr, cc);
                ev->type = WND_EV_RESIZE;
                ev->row = rr;
                ev->col = cc;
                return 1;
            }
            if (wc == KEY_MOUSE) {
                MEVENT me;
                if (getmouse(&me) != OK) continue;
                int b = 0;
                if (me.bstate & BUTTON1_DOUBLE_CLICKED) b = WND_M_DBLCLICK;
                else if (me.bstate & BUTTON1_CLICKED) b = WND_M_CLICK;
                else if (me.bstate & (BUTTON3_CLICKED | BUTTON3_PRESSED)) b = WND_M_RCLICK;
                else if (me.bstate & BUTTON4_PRESSED) b = WND_M_WHEELUP;
                else if (me.bstate & BUTTON5_PRESSED) b = WND_M_WHEELDOWN;
                if (!b) continue;
                ev->type = WND_EV_MOUSE;
                ev->key = b;
                ev->row = me.y;
                ev->col = me.x;
                return 1;
            }
            int k = from_ncurses(int(wc));
            if (!k) continue;
            ev->type = WND_EV_KEY;
            ev->key = k;
            return 1;
        }
        int key;
        if (wc == 27) {
            // Esc alone, or Alt with the key that follows at once
            wtimeout(stdscr, 0);
            wint_t w2;
            int r2 = wget_wch(stdscr, &w2);
            if (r2 == ERR) key = WND_K_ESC;
            else if (r2 == KEY_CODE_YES) key = from_ncurses(int(w2)) | WND_K_ALT;
            else if (w2 == '[' || w2 == 'O') {
                // a sequence the terminal description does not know: drop it
                // whole rather than type its characters into a field
                wint_t w3;
                while (wget_wch(stdscr, &w3) == OK && !(w3 >= 0x40 && w3 <= 0x7E && !(w2 == '[' && w3 == '[')))
                    if (w3 < 0x20 || w3 > 0x7E) break;
                continue;
            }
            else if (w2 >= '1' && w2 <= '9') key = wnd_key_f(int(w2 - '0'));
            else if (w2 == '0') key = wnd_key_f(10);
            else if (w2 == '-') key = wnd_key_f(11);
            else if (w2 == '=') key = wnd_key_f(12);
            else if (w2 == 27) {  // two presses of Esc
                unget_wch(27);
                key = WND_K_ESC;
            }
            else if (w2 == '\r' || w2 == '\n') key = WND_K_ENTER | WND_K_ALT;
            else if (w2 > 32 && w2 < 127) key = WND_K_ALT | int(w2);
            else key = WND_K_ESC;
            if ((key & ~WND_K_MODS) == 0) continue;
        } else if (wc == '\r' || wc == '\n') {
            key = WND_K_ENTER;
        } else if (wc == '\t') {
            key = WND_K_TAB;
        } else if (wc == 127 || wc == 8) {
            key = WND_K_BKSP;
        } else if (wc < 32) {
            key = int(wc);
        } else {
            key = to_cp1252(wc);
            if (!key) {
                beep();
                continue;
            }
        }
        ev->type = WND_EV_KEY;
        ev->key = key;
        return 1;
    }
}

void t_beep() { beep(); }

void t_suspend() {
    if (!g_scr) return;
    def_prog_mode();
    endwin();
    if (g_have_tty) tcsetattr(0, TCSANOW, &g_saved_tty);
}

void t_resume() {
    if (!g_scr) return;
    reset_prog_mode();
    clearok(curscr, TRUE);
    int r, c;
    getmaxyx(stdscr, r, c);
    screen_resized(r, c);
}

}  // namespace

bool terminal_usable() {
    if (!isatty(0) || !isatty(1)) return false;
    const char* t = std::getenv("TERM");
    return t && *t && std::strcmp(t, "dumb") != 0;
}

const Backend* terminal_backend() {
    static const Backend b = [] {
        Backend x;
        x.kind = WND_TERMINAL;
        x.realtime = true;
        x.open = t_open;
        x.close = t_close;
        x.read = t_read;
        x.show = t_show;
        x.msgbox = drawn_msgbox;
        x.beep = t_beep;
        x.exit_dump = nullptr;
        x.suspend = t_suspend;
        x.resume = t_resume;
        return x;
    }();
    return &b;
}

}  // namespace plat::ui
