// Fuzz target for the language-file loader. The input is written as the
// language file "QV_LANG_EN.MSJ" of a folder made at start; the loader reads
// it and a spread of codes is looked up. Besides the sanitizers, every text
// is compared with a small model of the file format, so that a text read from
// the wrong place, a code that escapes its range or a lost fallback to the
// built-in texts aborts as well.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/core/env.h"
#include "runtime/core/msg.h"
#include "runtime/core/scratch.h"
#include "runtime/core/startup.h"
#include "runtime/core/status.h"

using namespace rt;

namespace {

[[noreturn]] void fail(const char* what, int code = -1) {
    std::fprintf(stderr, "lang_fuzz: %s (code %d)\n", what, code);
    std::abort();
}
#define CHECK(cond, code) \
    do { if (!(cond)) fail(#cond, code); } while (0)

// Inputs up to this size are compared with the model; a larger one could
// rightly be refused for want of room in the string table.
constexpr size_t kModelMax = 32768;

std::vector<int> codes_to_try() {
    std::vector<int> c;
    for (int i = 1; i <= 300; i++) c.push_back(i);
    c.push_back(1001);
    c.push_back(9999);
    return c;
}

struct Model {
    bool loaded = false;
    int first = 0, last = 0;
    std::map<int, std::string> text;
};

// The file as the loader must see it: lines end at CR, LF or CR LF, a lone
// Ctrl-Z line does not count, a file of 1 to 255 lines is used, each line
// is a four-digit code other than 0, a separator and the text, codes ascend
// and reach at most 255 past the first one, "\n" stands for CR LF.
Model model_of(std::string_view in) {
    std::vector<std::string_view> lines;
    size_t i = 0;
    while (i < in.size()) {
        size_t e = i;
        while (e < in.size() && in[e] != '\r' && in[e] != '\n') e++;
        std::string_view line = in.substr(i, e - i);
        if (e < in.size()) {
            if (in[e] == '\r' && e + 1 < in.size() && in[e + 1] == '\n') e++;
            e++;
        }
        i = e;
        if (line != "\x1a") lines.push_back(line);
    }
    Model m;
    if (lines.empty() || lines.size() > 255) return m;
    int entries = 0;
    for (std::string_view l : lines) {
        int code = 0;
        bool digits = l.size() >= 4;
        for (size_t k = 0; digits && k < 4; k++) {
            if (l[k] < '0' || l[k] > '9') digits = false;
            else code = code * 10 + (l[k] - '0');
        }
        if (!digits || code == 0) continue;
        if (entries && (code <= m.last || code - m.first >= 256)) continue;
        if (!entries) m.first = code;
        for (int g = m.last + 1; entries && g < code; g++) m.text[g] = "";
        std::string t;
        std::string_view body = l.size() > 5 ? l.substr(5) : std::string_view();
        for (size_t p = 0; p < body.size(); p++) {
            if (body[p] == '\\' && p + 1 < body.size() && body[p + 1] == 'n') {
                t += "\r\n";
                p++;
            } else {
                t += body[p];
            }
        }
        m.text[code] = t;
        m.last = code;
        entries = code - m.first + 1;
    }
    m.loaded = entries > 0;
    return m;
}

std::string g_dir;
std::string g_file;
std::map<int, std::string> g_builtin;

bool setup() {
    if (rt_stores_init() != 0) return false;
    const char* t = getenv("TMPDIR");
    std::string pat = std::string(t && *t ? t : "/tmp") + "/lang_fuzz.XXXXXX";
    std::vector<char> buf(pat.begin(), pat.end());
    buf.push_back(0);
    if (!mkdtemp(buf.data())) return false;
    g_dir = buf.data();
    g_file = g_dir + "/QV_LANG_EN.MSJ";
    // The loader looks in the current folder before the search path, and
    // libFuzzer needs the current folder for its corpus: one there would be
    // read in place of ours.
    if (access("QV_LANG_EN.MSJ", F_OK) == 0) {
        std::fprintf(stderr, "lang_fuzz: remove QV_LANG_EN.MSJ from the current folder\n");
        return false;
    }
    lang_reset();
    for (int c : codes_to_try()) {
        ScratchMark m = scr_mark();
        g_builtin[c] = std::string(sv(msg(c)));
        scr_release(m);
    }
    std::atexit([] {
        std::remove(g_file.c_str());
        rmdir(g_dir.c_str());
    });
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = setup();
    if (!ready) fail("the runtime stores could not be built");

    std::FILE* f = std::fopen(g_file.c_str(), "wb");
    if (!f) fail("cannot write the language file");
    if (size && std::fwrite(data, 1, size, f) != size) fail("short write");
    std::fclose(f);

    const ScratchMark base = scr_mark();
    env_set(env::LangModule, "EN");
    env_set(env::DocPath, sr(g_dir));
    lang_reset();
    lang_enable(true);
    LangState state = lang_load();
    CHECK(scr_mark() == base, -1);

    std::string_view in(reinterpret_cast<const char*>(data), size);
    const bool modelled = size <= kModelMax;
    Model model;
    if (modelled) model = model_of(in);
    if (modelled) CHECK((state == LangState::Loaded) == model.loaded, -1);
    else CHECK(state != LangState::NotTried, -1);
    const bool loaded = state == LangState::Loaded;

    for (int c : codes_to_try()) {
        StrRef t = msg(c);
        CHECK(sr_ok(t), c);
        CHECK(scr_mark() == base + 1, c);
        if (modelled) {
            bool in_range = loaded && c >= model.first && c <= model.last;
            const std::string& want = in_range ? model.text[c] : g_builtin[c];
            CHECK(sv(t) == want, c);
        } else if (!loaded) {
            CHECK(sv(t) == g_builtin[c], c);
        } else {
            CHECK(t.n <= size, c);
        }
        scr_release(base);
    }
    // A key with a default text: the file's own text in its range, else the
    // default.
    {
        StrRef t = msg("1001 Default");
        CHECK(sr_ok(t), 1001);
        if (modelled) {
            bool in_range = loaded && 1001 >= model.first && 1001 <= model.last;
            CHECK(sv(t) == (in_range ? model.text[1001] : std::string("Default")), 1001);
        }
    }
    scr_release(base);
    return 0;
}
