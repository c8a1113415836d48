#include <cstring>
#include <string>
#include <vector>

#include "runtime/core/blocks.h"
#include "runtime/core/env.h"
#include "runtime/core/file.h"
#include "runtime/core/fmt.h"
#include "runtime/core/hooks.h"
#include "runtime/core/rtarray.h"
#include "runtime/core/scratch.h"
#include "runtime/core/status.h"
#include "runtime/core/str.h"
#include "runtime/expr/eval.h"
#include "runtime/script/proc.h"
#include "runtime/script/procrec.h"

namespace rt {

const std::string_view kProcKeywords =
    "GOTO,GOSUB,CALL,RETURN,ENDIF,LOOP,LOOP_WHILE,LOOP_UNTIL,ELSE,IF,IF_TRUE,DO_WHILE,IF_FALSE,DO_UNTIL,DO,"
    "DEF_FN,LOCALVARS,END,ACCEPT,BOUNDS,COLOR,CONNECT,DEVICE,DLOCATE,DPRINT,ENDDEVICE,EXPORT,FILESELECT,"
    "IMPORT,KILL,LOADSTRUCT,LOCATE,MESSAGE,PRINT,SHELL,READ,REMOTE,REPORT,DOCPRINT,WAIT,WINMENU,WINOPEN,"
    "WINCLOSE,WINSELECT,WINPROG,RC_DELETE,RC_INSERT,RC_UPDATE,RC_WRITE,FILESTRUCT,FILESCAN,STATSTEPS,SYSTEM";

namespace {

uint32_t g_next_id = 1;

// The code of a first word: matched exactly, then in upper case; 0 when it
// is no keyword (a word that merely begins with one is none).
uint16_t keyword_code(std::string_view w) {
    if (w.empty() || w.size() > 16) return 0;
    char up[16];
    for (size_t i = 0; i < w.size(); i++) up[i] = (w[i] >= 'a' && w[i] <= 'z') ? static_cast<char>(w[i] - 32) : w[i];
    std::string_view u(up, w.size());
    for (int pass = 0; pass < 2; pass++) {
        std::string_view want = pass ? u : w;
        size_t pos = 0;
        uint16_t code = 1;
        while (pos <= kProcKeywords.size()) {
            size_t c = kProcKeywords.find(',', pos);
            size_t end = c == std::string_view::npos ? kProcKeywords.size() : c;
            if (kProcKeywords.substr(pos, end - pos) == want) return code;
            if (c == std::string_view::npos) break;
            pos = c + 1;
            code++;
        }
    }
    return 0;
}

struct Work {
    std::vector<Instruction> ins;
    std::vector<uint32_t> text_off;
    std::string texts;
    std::vector<std::string> labels;
    std::vector<uint16_t> label_pos;
    std::vector<uint16_t> entry_pos;
    std::vector<uint32_t> entry_off;
    std::string names;
};

IER fail_text(IER st, StrRef text) {
    err_origin(1, mod::EXEC_COMPILER, st);
    return err_detail(st, text, true);
}

// Pass 1: one instruction per statement; labels and entry points noted.
IER pass1(LineSource& src, Work& w) {
    for (;;) {
        ScratchMark m = scr_mark();
        StrRef raw;
        IER st = 0;
        if (!src.next(src.ctx, &raw, &st)) {
            scr_release(m);
            return st;
        }
        StrRef line = str_trim(raw);
        std::string_view l = sv(line);
        if (l.empty() || l[0] == ';' || l[0] == '#' || l[0] == '/') {
            scr_release(m);
            continue;
        }
        uint16_t blank = str_find_char(line, ' ', 0, true);
        uint16_t tab = str_find_char(line, '\t', 0, true);
        if (tab < blank) blank = tab;
        std::string_view first = blank == kNotFound ? l : l.substr(0, blank);
        std::string_view rest = blank == kNotFound ? std::string_view() : sv(str_trim(sr(l.substr(blank))));
        if (l[0] == ':') {
            if (w.labels.size() >= kProcLabelsMax) return ier::OUTOFMEMORY;
            w.labels.emplace_back(first.substr(1));
            w.label_pos.push_back(static_cast<uint16_t>(w.ins.size()));
            scr_release(m);
            continue;
        }
        uint16_t code = keyword_code(first);
        if (code == kw::DEF_FN) {
            if (w.entry_pos.size() >= kProcEntriesMax) return ier::OUTOFMEMORY;
            w.entry_off.push_back(static_cast<uint32_t>(w.names.size()));
            w.names.append(rest);
            w.names.push_back('\0');
            w.entry_pos.push_back(static_cast<uint16_t>(w.ins.size()));
            scr_release(m);
            continue;
        }
        // Files beyond what 16-bit positions address are refused.
        if (w.ins.size() >= kProcStatementsMax) return ier::OUTOFMEMORY;
        w.ins.push_back({code, 0});
        w.text_off.push_back(static_cast<uint32_t>(w.texts.size()));
        w.texts.append(code ? rest : l);
        w.texts.push_back('\0');
        scr_release(m);
    }
}

// Pass 2: jump targets and blocks.
IER pass2(Work& w) {
    uint16_t stack[kProcBlocksMax];
    int depth = 0;
    for (size_t k = 0; k < w.ins.size(); k++) {
        Instruction& in = w.ins[k];
        std::string_view text(w.texts.data() + w.text_off[k]);
        if (in.code == kw::GOTO || in.code == kw::GOSUB) {
            size_t found = w.labels.size();
            for (size_t i = 0; i < w.labels.size() && found == w.labels.size(); i++)
                if (w.labels[i] == text) found = i;
            if (found == w.labels.size()) {
                ScratchMark m = scr_mark();
                IER st = fail_text(ier::SINTAXERROR, fmt("\r\nLabel '%s' in line %i (+ remmarks) not found",
                                                        {sr(text), static_cast<int>(k + 1)}));
                scr_release(m);
                return st;
            }
            in.operand = w.label_pos[found];
        }
        if (in.code >= kw::ENDIF && in.code <= kw::ELSE) {
            if (depth == 0) {
                ScratchMark m = scr_mark();
                IER st = fail_text(ier::SINTAXERROR,
                                   fmt("\r\nFinal of Conditional or loop without \r\nBegin (Loop, Endif...) in line %i "
                                       "(+ remmarks)",
                                       {static_cast<int>(k + 1)}));
                scr_release(m);
                return st;
            }
            uint16_t o = stack[--depth];
            w.ins[o].operand = static_cast<uint16_t>(k + 1);
            in.operand = o;
        }
        if (in.code >= kw::ELSE && in.code <= kw::DO) {
            if (depth == kProcBlocksMax) return ier::OUTOFMEMORY;
            stack[depth++] = static_cast<uint16_t>(k);
        }
    }
    // A block left open at the end of the file jumps past the last
    // instruction, never back to the first.
    while (depth > 0) w.ins[stack[--depth]].operand = static_cast<uint16_t>(w.ins.size());
    return 0;
}

IER compile(LineSource& src, int* index) {
    Work w;
    IER st = pass1(src, w);
    if (!st) st = pass2(w);
    if (st) return st;
    ProcRecord rec{};
    rec.id = g_next_id++;
    rec.count = static_cast<uint16_t>(w.ins.size());
    rec.entries = static_cast<uint16_t>(w.entry_pos.size());
    rec.texts_len = static_cast<uint32_t>(w.texts.size());
    rec.names_len = static_cast<uint32_t>(w.names.size());
    w.text_off.push_back(rec.texts_len);
    w.entry_off.push_back(rec.names_len);
    size_t bytes = proc_block_size(rec);
    rec.block = static_cast<char*>(blk_alloc(mod::EXEC_COMPILER, bytes, false));
    if (!rec.block) return ier::OUTOFMEMORY;
    auto put = [](void* to, const void* from, size_t n) {
        if (n) std::memcpy(to, from, n);  // an empty part has no source to copy
    };
    put(proc_ins(rec), w.ins.data(), sizeof(Instruction) * rec.count);
    put(proc_text_off(rec), w.text_off.data(), sizeof(uint32_t) * (rec.count + 1u));
    put(proc_entry_pos(rec), w.entry_pos.data(), sizeof(uint16_t) * rec.entries);
    put(proc_entry_off(rec), w.entry_off.data(), sizeof(uint32_t) * (rec.entries + 1u));
    put(proc_texts(rec), w.texts.data(), w.texts.size());
    put(proc_names(rec), w.names.data(), w.names.size());
    // Statement texts are checked for the evaluator once, here.
    for (uint16_t k = 0; k < rec.count; k++) proc_prepared(rec)[k] = ex_is_prepared(proc_text(rec, k)) ? 1 : 0;
    unsigned at = ra_count(arr::Frames);
    if (!ra_put(arr::Frames, at, &rec, sizeof rec)) {
        blk_free(mod::EXEC_COMPILER, rec.block);
        return ier::INTERNALERROR;
    }
    *index = static_cast<int>(at);
    proc_put_runner();
    return 0;
}

struct FileLines {
    uint16_t h;
    int lines;
};

bool file_next(void* ctx, StrRef* line, IER* st) {
    auto* f = static_cast<FileLines*>(ctx);
    StrRef l = f_read_line(f->h);
    IER s = sr_status(l);
    if (s == ier::DiskIO) return false;
    if (s) {
        *st = s;
        return false;
    }
    f->lines++;
    *line = l;
    return true;
}

struct TextLines {
    std::string_view rest;
    bool done;
};

bool text_next(void* ctx, StrRef* line, IER*) {
    auto* t = static_cast<TextLines*>(ctx);
    if (t->done) return false;
    size_t e = t->rest.find_first_of("\r\n");
    std::string_view l = t->rest.substr(0, e);
    if (e == std::string_view::npos) {
        t->done = true;
    } else {
        size_t skip = (t->rest[e] == '\r' && e + 1 < t->rest.size() && t->rest[e + 1] == '\n') ? 2 : 1;
        t->rest.remove_prefix(e + skip);
        if (t->rest.empty()) t->done = true;
    }
    *line = sr(l.size() > kStrMax ? l.substr(0, kStrMax) : l);
    return true;
}

}  // namespace

IER proc_load(StrRef file, int* index) {
    if (!sr_ok(file)) return sr_status(file);
    ScratchMark m = scr_mark();
    StrRef found = env_find(file);
    uint16_t h = (sr_ok(found) && found.n) ? f_open(found, fmode::ReadOnly | fmode::Quiet) : kBadHandle;
    IER st = 0;
    if (h == kBadHandle) {
        st = ier::FileNotFound;
    } else {
        FileLines fl{h, 0};
        LineSource src{&fl, file_next};
        st = compile(src, index);
        f_close(h);
        if (!st && fl.lines == 0) {
            // A file that holds no line is treated as missing.
            proc_unload(*index);
            st = ier::FileNotFound;
        }
    }
    if (st == ier::FileNotFound) {
        err_origin(1, mod::EXEC_COMPILER, st);
        err_detail(st, file);
    }
    scr_release(m);
    return st;
}

IER proc_load_text(StrRef text, int* index) {
    if (!sr_ok(text)) return sr_status(text);
    TextLines t{sv(text), text.n == 0};
    LineSource src{&t, text_next};
    return compile(src, index);
}

IER proc_unload(int index) {
    ProcRecord* r = proc_record(index);
    if (!r) return ier::INTERNALERROR;
    blk_free(mod::EXEC_COMPILER, r->block);
    ra_remove(arr::Frames, static_cast<unsigned>(index));
    return 0;
}

int proc_count() { return static_cast<int>(ra_count(arr::Frames)); }

int proc_instructions(int index) {
    ProcRecord* r = proc_record(index);
    return r ? r->count : 0;
}

Instruction proc_instruction(int index, int k) {
    ProcRecord* r = proc_record(index);
    if (!r || k < 0 || k >= r->count) return {kw::END, 0};
    return proc_ins(*r)[k];
}

StrRef proc_statement(int index, int k) {
    ProcRecord* r = proc_record(index);
    if (!r || k < 0 || k >= r->count) return sr_empty();
    return proc_text(*r, k);
}

int proc_entry(int index, StrRef name) {
    ProcRecord* r = proc_record(index);
    if (!r) return -1;
    return proc_find_entry(*r, sv(name));
}

void script_done() {
    while (proc_count() > 0) proc_unload(proc_count() - 1);
}

}  // namespace rt
