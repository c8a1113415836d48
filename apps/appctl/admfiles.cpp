// The files appctl keeps in the shared data folder: the all-users list,
// each company's user list, the company list, details files and rights
// files. The business programs only read them.
#include <algorithm>
#include <cctype>

#include "apps/appctl/admin.h"
#include "runtime/core/env.h"
#include "runtime/core/file.h"
#include "runtime/core/list.h"
#include "runtime/core/msg.h"
#include "runtime/core/scratch.h"
#include "runtime/core/str.h"

namespace ap {

using namespace rt;

namespace {

std::string read_whole(const std::string& file) {
    ScratchMark m = scr_mark();
    StrRef t = file_size(sr(file)) > 0 ? file_read(sr(file)) : sr_empty();
    std::string out(sv(t));
    scr_release(m);
    return out;
}

IER write_whole(const std::string& file, std::string_view text) {
    ScratchMark m = scr_mark();
    // A new installation has no shared data folder yet.
    StrRef folder = path_folder(sr(file));
    if (folder.n) folder_make_all(folder);
    IER st = file_write(sr(file), kWriteReplace, sr(text));
    scr_release(m);
    return st;
}

}  // namespace

std::string trimmed(std::string_view s) {
    size_t a = 0, b = s.size();
    while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) a++;
    while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) b--;
    return std::string(s.substr(a, b - a));
}

std::string msg_text(int code) {
    ScratchMark m = scr_mark();
    std::string out(sv(msg(code)));
    scr_release(m);
    return out;
}

Names groups() { return {"management", "admins", "trusts", "externs"}; }

bool is_group(std::string_view name) { return lst_pos(kGroups, name) > 0; }

bool name_ok(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return false;
    for (unsigned char c : name)
        if (c < 32 || c == 127 || c == '/' || c == '\\') return false;
    return true;
}

std::string data_file(std::string_view name) {
    ScratchMark m = scr_mark();
    StrRef folder = env_folder(folder::Data);
    std::string out = folder.n ? std::string(sv(path_join(folder, sr(name)))) : std::string(name);
    scr_release(m);
    return out;
}

std::string users_file(std::string_view db) {
    return data_file(db.empty() ? std::string("APUSRLIST.DAT") : "APUSRLIST." + std::string(db) + ".DAT");
}
std::string companies_file() { return data_file("APCOLIST.DAT"); }
std::string user_details_file(std::string_view login) {
    return data_file("APUSRDATA." + std::string(login) + ".TXT");
}
std::string company_details_file(std::string_view db) {
    return data_file("APCODATA." + std::string(db) + ".TXT");
}
std::string rights_file(std::string_view db) { return data_file("APUSRAUTH." + std::string(db) + ".DAT"); }

Names list_read(const std::string& file) {
    std::string text = read_whole(file);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    Names out;
    size_t at = 0;
    while (at <= text.size() && !text.empty()) {
        size_t comma = text.find(',', at);
        std::string item = trimmed(std::string_view(text).substr(at, comma == std::string::npos ? std::string::npos : comma - at));
        if (!item.empty()) out.push_back(item);
        if (comma == std::string::npos) break;
        at = comma + 1;
    }
    return out;
}

IER list_write(const std::string& file, const Names& names) {
    std::string text;
    for (const std::string& n : names) {
        if (!text.empty()) text += ',';
        text += n;
    }
    return write_whole(file, text);
}

Names lines_read(const std::string& file) {
    std::string text = read_whole(file);
    Names out;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find_first_of("\r\n", at);
        if (end == std::string::npos) end = text.size();
        out.emplace_back(text, at, end - at);
        if (end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') end++;
        at = end + 1;
    }
    return out;
}

IER lines_write(const std::string& file, const Names& lines, std::string_view joiner) {
    std::string text;
    for (size_t i = 0; i < lines.size(); i++) {
        if (i) text += joiner;
        text += lines[i];
    }
    return write_whole(file, text);
}

std::string rights_get(std::string_view db, std::string_view subject) {
    for (const std::string& line : lines_read(rights_file(db))) {
        size_t colon = line.find(':');
        if (colon != std::string::npos && std::string_view(line).substr(0, colon) == subject)
            return line.substr(colon + 1);
    }
    return {};
}

IER rights_set(std::string_view db, std::string_view subject, std::string_view letters) {
    Names lines = lines_read(rights_file(db));
    std::string mine = std::string(subject) + ":" + std::string(letters);
    bool found = false;
    for (std::string& line : lines) {
        size_t colon = line.find(':');
        if (colon != std::string::npos && std::string_view(line).substr(0, colon) == subject) {
            line = mine;
            found = true;
        }
    }
    if (!found) lines.push_back(mine);
    lines.erase(std::remove(lines.begin(), lines.end(), std::string()), lines.end());
    return lines_write(rights_file(db), lines, "\r\n");
}

Names merge(const Names& a, const Names& b, std::string_view skip) {
    Names out;
    auto add = [&](const std::string& n) {
        if (n.empty() || lst_pos(skip, n) > 0) return;
        if (std::find(out.begin(), out.end(), n) == out.end()) out.push_back(n);
    };
    for (const std::string& n : a) add(n);
    for (const std::string& n : b) add(n);
    return out;
}

}  // namespace ap
