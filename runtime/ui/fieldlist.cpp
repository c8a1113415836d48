// The screen-field language, read without touching the runtime's stores.
#include "runtime/ui/fieldlist.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace rt {
namespace {

bool is_q(char c) { return c == '\'' || c == '"'; }

bool ieq(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string_view trim(std::string_view t) {
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
    return t;
}

// Position of the first `what` (compared without case) outside quotes, npos
// when none.
size_t find_outside(std::string_view t, std::string_view what) {
    char q = 0;
    for (size_t i = 0; i < t.size(); i++) {
        char c = t[i];
        if (q) {
            if (c == q) q = 0;
            continue;
        }
        if (is_q(c)) {
            q = c;
            continue;
        }
        if (t.size() - i >= what.size() && ieq(t.substr(i, what.size()), what)) return i;
    }
    return std::string_view::npos;
}

// A small decimal number; false when t is none.
bool small_number(std::string_view t, int* out) {
    t = trim(t);
    if (t.empty() || t.size() > 5) return false;
    int v = 0;
    for (char c : t) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    *out = v;
    return true;
}

// The number after "NAME=" at the start of t (digits only).
int number_after(std::string_view t) {
    int v = 0;
    size_t i = 0;
    while (i < t.size() && (t[i] == ' ')) i++;
    for (; i < t.size() && t[i] >= '0' && t[i] <= '9' && v < 10000; i++) v = v * 10 + (t[i] - '0');
    return v;
}

// "/ROW=n" and "/COL=n" anywhere in the item: their values; the item ends
// before the first of them.
void take_position(std::string& item, int* row, int* col) {
    size_t r = find_outside(item, "/ROW=");
    size_t c = find_outside(item, "/COL=");
    if (r != std::string::npos) *row = number_after(std::string_view(item).substr(r + 5));
    if (c != std::string::npos) *col = number_after(std::string_view(item).substr(c + 5));
    size_t cut = std::min(r, c);
    if (cut != std::string::npos) item.resize(cut);
}

// "{row,col}" at the start of the prompt.
void take_braces(std::string& prompt, int* row, int* col) {
    std::string_view p = trim(prompt);
    if (p.empty() || p.front() != '{') return;
    size_t close = p.find('}');
    if (close == std::string_view::npos) return;
    std::string_view inner = p.substr(1, close - 1);
    size_t comma = inner.find(',');
    int r = 0, c = 0;
    if (comma == std::string_view::npos || !small_number(inner.substr(0, comma), &r) ||
        !small_number(inner.substr(comma + 1), &c))
        return;
    *row = r;
    *col = c;
    prompt = std::string(trim(p.substr(close + 1)));
}

void read_type(std::string_view raw, FieldItem* it) {
    std::string unquoted = fs_unquote(trim(raw));
    std::string_view t = trim(unquoted);
    if (t.empty()) return;
    char c = static_cast<char>(std::toupper(static_cast<unsigned char>(t[0])));
    int n = 0;
    small_number(t.substr(1), &n);
    if (c == 'V' && t.size() > 1) {
        it->vnum = n;
        it->type = 'V';
        return;
    }
    it->type = c;
    it->length = n;
}

// FIELD{file}: a name and braces at the end.
bool is_file_ref(std::string_view t) {
    t = trim(t);
    size_t open = t.find('{');
    return open != std::string_view::npos && open > 0 && !t.empty() && t.back() == '}' && !is_q(t.front());
}

}  // namespace

bool fs_text_type(char type) {
    switch (std::toupper(static_cast<unsigned char>(type))) {
    case 'A': case 'B': case 'C': case 'D': case 'F': case 'P':
        return true;
    default:
        return false;
    }
}

std::string fs_unquote(std::string_view t) {
    if (t.size() >= 2 && is_q(t.front()) && t.back() == t.front()) return std::string(t.substr(1, t.size() - 2));
    return std::string(t);
}

std::vector<std::string> fs_split(std::string_view text, char sep) {
    std::vector<std::string> out;
    std::string cur;
    char q = 0;
    int depth = 0;
    for (char c : text) {
        if (q) {
            if (c == q) q = 0;
        } else if (is_q(c)) {
            q = c;
        } else if (c == '(' || c == '[' || c == '{') {
            depth++;
        } else if ((c == ')' || c == ']' || c == '}') && depth > 0) {
            depth--;
        } else if (c == sep && depth == 0) {
            out.push_back(cur);
            cur.clear();
            continue;
        }
        cur += c;
    }
    out.push_back(cur);
    return out;
}

std::string_view fs_trailing_op(std::string_view p) {
    p = trim(p);
    static constexpr std::string_view kOps[] = {"==", ">=", "<=", "<>", ">", "<"};
    for (std::string_view op : kOps)
        if (p.size() > op.size() && p.substr(p.size() - op.size()) == op) return op;
    return {};
}

int fs_parse(std::string_view list, FieldSpec* out) {
    *out = FieldSpec{};
    if (list.size() > size_t(kFieldListTextMax)) return 146;
    std::string text(list);
    // ";" stands for ":" in a list that has no ":" and at least two ";"
    // (outside quotes).
    {
        int colons = 0, semis = 0;
        char q = 0;
        for (char c : text) {
            if (q) {
                if (c == q) q = 0;
            } else if (is_q(c)) {
                q = c;
            } else if (c == ':') {
                colons++;
            } else if (c == ';') {
                semis++;
            }
        }
        if (colons == 0 && semis >= 2) {
            q = 0;
            for (char& c : text) {
                if (q) {
                    if (c == q) q = 0;
                } else if (is_q(c)) {
                    q = c;
                } else if (c == ';') {
                    c = ':';
                }
            }
        }
    }
    size_t cut = find_outside(text, " /");
    std::string fields = cut == std::string::npos ? text : text.substr(0, cut);
    if (cut != std::string::npos) out->options = std::string(trim(std::string_view(text).substr(cut + 2)));
    if (trim(fields).empty()) return 163;
    std::vector<std::string> items = fs_split(fields, ',');
    if (int(items.size()) > kScreenFieldsMax) return 163;
    for (std::string& raw : items) {
        FieldItem it;
        std::string body(trim(raw));
        take_position(body, &it.at_row, &it.at_col);
        it.text = body;
        std::vector<std::string> parts = fs_split(body, ':');
        while (!parts.empty() && trim(parts.back()).empty() && parts.size() > 1) parts.pop_back();
        it.parts = int(parts.size());
        if (it.parts == 0 || (it.parts == 1 && trim(parts[0]).empty())) return 163;
        if (it.parts == 1) {
            // a data-file field: prompt, type and length from the dictionary
            std::string_view ref = trim(parts[0]);
            std::string_view op = fs_trailing_op(ref);
            it.op = std::string(op);
            it.bind = std::string(trim(ref.substr(0, ref.size() - op.size())));
            it.file_field = true;
            out->items.push_back(std::move(it));
            continue;
        }
        std::string prompt(trim(parts[0]));
        take_braces(prompt, &it.brace_row, &it.brace_col);
        if (prompt.size() >= 2 && is_q(prompt.front()) && prompt.back() == prompt.front()) {
            it.prompt = fs_unquote(prompt);
            it.prompt_literal = true;
        } else {
            it.prompt = prompt;
        }
        read_type(parts[1], &it);
        if (it.parts >= 3) {
            std::string_view b = trim(parts[2]);
            std::string_view op = fs_trailing_op(b);
            it.op = std::string(op);
            it.bind = std::string(trim(b.substr(0, b.size() - op.size())));
            it.file_field = is_file_ref(it.bind);
        }
        if (it.parts >= 4) it.def = std::string(trim(parts[3]));
        if (it.parts >= 5) it.target = std::string(trim(parts[4]));
        out->items.push_back(std::move(it));
    }
    return 0;
}

std::vector<FsOption> fs_options(std::string_view b) {
    std::vector<FsOption> out;
    auto sep = [](char c) { return c == ':' || c == ' ' || c == '&' || c == '/' || c == '\t'; };
    size_t i = 0;
    while (i < b.size()) {
        while (i < b.size() && sep(b[i])) i++;
        size_t start = i;
        // the name runs to '='; a separator first makes it a word without value
        while (i < b.size() && b[i] != '=' && !sep(b[i]) && !is_q(b[i])) i++;
        if (i >= b.size() || b[i] != '=') {
            if (i < b.size() && is_q(b[i])) {  // a stray quoted text: skip it whole
                char q = b[i++];
                while (i < b.size() && b[i] != q) i++;
                if (i < b.size()) i++;
            } else if (i == start) {
                i++;
            }
            continue;
        }
        FsOption o;
        o.name = std::string(b.substr(start, i - start));
        i++;  // '='
        if (i < b.size() && is_q(b[i])) {
            char q = b[i++];
            size_t vs = i;
            while (i < b.size() && b[i] != q) i++;
            o.value = std::string(b.substr(vs, i - vs));
            if (i < b.size()) i++;
        } else {
            size_t vs = i;
            while (i < b.size() && !sep(b[i])) i++;
            o.value = std::string(b.substr(vs, i - vs));
        }
        if (!o.name.empty()) out.push_back(std::move(o));
    }
    return out;
}

bool fs_option(std::string_view block, std::string_view name, std::string* value) {
    for (const FsOption& o : fs_options(block))
        if (ieq(o.name, name)) {
            if (value) *value = o.value;
            return true;  // the first one given holds, as for every named option
        }
    return false;
}

std::string fs_option_set(std::string_view block, std::string_view name, std::string_view value) {
    // The new option goes first, where nothing before it can swallow it (an
    // unterminated quote further on); a value holding both quotes loses its
    // double ones.
    std::string v(value);
    char q = '"';
    if (v.find('"') != std::string::npos) {
        if (v.find('\'') == std::string::npos) q = '\'';
        else v.erase(std::remove(v.begin(), v.end(), '"'), v.end());
    }
    std::string out = std::string(name) + "=" + q + v + q;
    if (!block.empty()) out += ":" + std::string(block);
    return out;
}

}  // namespace rt
