#include "runtime/core/msg.h"

#include <cstring>

#include "runtime/core/env.h"
#include "runtime/core/file.h"
#include "runtime/core/list.h"
#include "runtime/core/scratch.h"
#include "runtime/core/status.h"
#include "runtime/core/str.h"
#include "runtime/core/strtab.h"

namespace rt {
namespace {

// The runtime's built-in texts: entries "NNNN text" separated by TABs; a TAB
// inside quotes belongs to its entry.
constexpr std::string_view kBlock1 =
    "0001 Unable to initialize String area\t"
    "0002 Unable to Complete Initialization\t"
    "0003 Memory Leaks Detected\t"
    "0004 File not found:%s\t"
    "0005 Process Completed Succesfully\t"
    "0006 Cancelled by user\t"
    "0007 No data Found\t"
    "0008 Warning \t"
    "0009 Error \t"
    "0010 Not defined\t"
    "0011 Yy,Nn\t"
    "0012 Information Message\t"
    "0013 Fatal Error Ocurred\t"
    "0014 Information Request\t"
    "0015 Permision Denied\t"
    "0016 Process in progress.....\t"
    "0017 Bad params for screen field %s\r\n (%s)\t"
    "0018 Posible loss of data. Please Confirm\t"
    "0019 .,'0123456789.-D',' NY','  ,NO,YES'\t"
    "0020 Cancel\t"
    "0021 SQL Connection Fail\t"
    "0022 File Maintenance,Data Capture\t"
    "0023 Key not Found,End of file,,,Bad Key,Repeated Key,Concurrent Change. Update canceled,Data Change. Please confirm,Passwords do not match\t"
    "0024 Key Updated Canceled\t"
    "0025 Delete Record(s)?\t"
    "0026 View,Insert,Delete,Seek\t"
    "0027 Header Capture,Type of Document,Index search [PgDn/PgUp],Editing [PgDn/PgUp],Line editing,Summary editing,Data saved,New,Modify,Insert Mode,Maintenance Mode,Print Disabled,Print Enabled,Read Only\t"
    "0028 New,Top,Prev.,Next,Bottom,Search,Save,Delete\t"
    "0029 Cancel,Find,Save,Insert,Del.Line,Import,Del.Doc.,Print mode\t"
    "0030 Cancel,PgUp.,PgDn.,Save,Insert,Delete,Import,Mode\t"
    "0031 Process not defined\t"
    "0032 There are windows open (%i Screens, %i Windows)\t"
    "0033 Remember your Safety Copies\n\r\xBF""Do you want to Close Program? (%i Screens, %i Windows)\t"
    "0034 Application Selector\t"
    "0035 You must stablish configuration settings in the default folder.\r\nPlease read the documentation\t"
    "0036 %s (Unknown Application)\t"
    "0037 Only available at Index area\t"
    "0038 Only available in Maintenance Mode,For appending data is recommended to use Insertion Mode\t"
    "0039 Continue?";
constexpr std::string_view kBlock2 =
    "0040 View Log?\t"
    "0041 HtmlPage not defined\t"
    "0042 Html Parser/Nav Error\t"
    "0043 Html environ initialization Error\t"
    "0044 DefParms File Load Error\t"
    "0045 Parsing page Error\t"
    "0046 Control Command Error\t"
    "0047 Form Log failure\t"
    "0048 Query Params Error\t"
    "0049 Choose Selection\t"
    "0050 OverWrite?\t"
    "0051 Transaction Confirmation\t"
    "0052 No Transaction mode defined\t"
    "0053 No Transaction table defined\t"
    "0054 Extern SQL table not defined\t"
    "0055 Transaction Data Needed\t"
    "0056 'File Name:':'A40'\t"
    "0057 Transaction Bounds\t"
    "0058 Import Window\t"
    "0059 Deleting %s in %s,Updating %s in %s\t"
    "0060 All Files (%s),%s\t"
    "0061 FileStruct Files (%s),%s\t"
    "0062 Screen Files (%s),%s\t"
    "0063 Print Document Files (%s),%s\t"
    "0064 Script Files (%s),%s\t"
    "0065 AppSelect Files (%s),%s\t"
    "0066 Menu Files (%s),%s\t"
    "0067 PDF Files (%s),%s\t"
    "0068 Text Files (%s),%s\t"
    "0070 Help\t"
    "0071 Help Pages\t"
    "0072 Help Page not defined\t"
    "0073 Untitled Window #%s\t"
    "0074 Variables and Functions\t"
    "0075 About Box\t"
    "0077 PgUp/PgDn Avail.\t"
    "0080 (Bigger than),(Smaller than),(Equal to),(From),(To)  ,(No Equal to)\t"
    "0081 Report Limits Capture\t"
    "0082 Device Selection\t"
    "0083 Speed:,Parity:,Lines:,Width:,Step:,View:\t"
    "0084 No Selection done\t"
    "0085 Table Selection\t"
    "0086 Limit Fields Selection\t"
    "0087 Relational Update\t"
    "0088 Target File\t"
    "0089 Relative,Secuential,Delimited,List";
constexpr std::string_view kBlock3 =
    "0090 Database access\t"
    "0091 'Host:':'A30'::%s,'Database:':'A30'::%s,'User:':'A30'::%s,'Password:':'P30'::%s,'Remember (Y/N):':'L1'\t"
    "0092 'Host:':'A30'::%s,'Database:':'A30','User:':'A30'::'postgres','Password:':'P30'\t"
    "0093 'Host:':'A30'::%s,'User:':'A30'::'postgres','Password:':'P30'\t"
    "0094 'Relational Update Type:':'N1'\t"
    "0095 'Target File:':'A255'::'%s','Append mode:':'L1'::'1'\t"
    "0096 Fields Selection\t"
    "0097 Save this Configuration?\t"
    "0098 Transaction selector\t"
    "0099 Update Expresion\t"
    "0100 'Update Expresion:':'A256'\t"
    "0101 Counted %s rows in %s\t"
    "0110 'Reports','\tCreate New,[$]','\tReports,[$]%APNAME%report.ppn'\t"
    "0111 'Transactions','\tExport','\t\tRelative,[$]4','\t\tSecuential,[$]20','\t\tDelimited,[$]52','\t\tList,[$]16404','\tImport','\t\tRelative,[$]5','\t\tSecuential,[$]21','\t\tDelimited,[$]53','\tIntern','\t\tCounter,[$]128','\t\tSelf Update,[$]1','\t\tRelational Update,[$]3','\t\tRelational Unupdate,[$]11','\t\tDeletion,[$]8','\tPredefinined,[$]0'\t"
    "0112 Extern Program has terminated with error code %s\t"
    "0113 'Document Title:':'A40','Multiline:':'L1','Avoid in Menu:':'L1'\t"
    "0114 Report Selection\t"
    "0115 Last session uncorrectly closed. Recovering data\t"
    "0116 'New Database:':'A20'\t"
    "0117 'January,February,March,April,May,June,July,August,September,October,November,December','[M] [D],[Y]'\t"
    "0118 'Server Backup Folder:':'A50'::'%s','Lan Backup Folder:':'A50'::'%s'\t"
    "0119 'Reorganization,Reorg'\t"
    "0120 'Help','\tHelp,Help','\tAbout,Help About'\t"
    "0121 Only Server Side Copy was done\t"
    "0130 Exit,Print,Save";

std::string_view g_app_block;

struct Lang {
    LangState state = LangState::NotTried;
    bool enabled = false;
    int first = 0, last = 0;
    int entries = 0;                 // offset entries in use
    uint16_t end[kLangOffsets] = {};  // end of text i in the language string
} g_lang;

// Four decimal digits at the start of s, else 0.
int code_of(std::string_view s) {
    if (s.size() < 4) return 0;
    int c = 0;
    for (int i = 0; i < 4; i++) {
        if (s[i] < '0' || s[i] > '9') return 0;
        c = c * 10 + (s[i] - '0');
    }
    return c;
}

// The text of the entry that starts with code in a block; an entry is found
// only at its own start, so digits inside another entry never match.
StrRef block_text(std::string_view block, std::string_view code) {
    StrRef b = sr(block);
    size_t pos = 0;
    while (pos <= block.size()) {
        uint16_t tab = str_find_char(b, '\t', pos, true);
        size_t end = tab == kNotFound ? block.size() : tab;
        std::string_view entry = block.substr(pos, end - pos);
        if (entry.size() >= 4 && entry.compare(0, 4, code) == 0)
            return sr(entry.size() > 5 ? entry.substr(5) : std::string_view());
        if (tab == kNotFound) break;
        pos = end + 1;
    }
    return sr_empty();
}

StrRef builtin_text(std::string_view key) {
    std::string_view code = key.substr(0, key.size() < 4 ? key.size() : 4);
    std::string_view block;
    if (code > "0999") block = g_app_block;
    else if (code >= "0090") block = kBlock3;
    else if (code < "0040") block = kBlock1;
    else block = kBlock2;
    if (code.size() < 4) return sr_empty();
    return block_text(block, code);
}

// The text of a key once the language file has had its chance.
StrRef lookup(StrRef key) {
    std::string_view k = sv(key);
    int code = code_of(k);
    if (code && g_lang.state == LangState::Loaded && code >= g_lang.first && code <= g_lang.last) {
        int idx = code - g_lang.first;
        StrRef all = st_get(grp::Runtime, rtitem::LangTexts);
        size_t b = idx ? g_lang.end[idx - 1] : 0;
        size_t e = g_lang.end[idx];
        if (e > all.n) e = all.n;
        if (b > e) b = e;
        return scr_copy(sr(all.p + b, e - b));
    }
    if (code && k.size() > 4) return scr_copy(sr(k.size() > 5 ? k.substr(5) : std::string_view()));
    return scr_copy(builtin_text(k));
}

}  // namespace

void msg_set_app_block(std::string_view block) { g_app_block = block; }

LangState lang_state() { return g_lang.state; }
void lang_enable(bool on) { g_lang.enabled = on; }
void lang_reset() { g_lang = Lang{}; }

LangState lang_load() {
    g_lang.state = LangState::Tried;
    g_lang.entries = 0;
    ScratchMark m = scr_mark();
    StrRef lang = env_get(env::LangModule);
    ScrBuild nb;
    nb.put("QV_LANG_").put(lang.n ? sv(lang) : std::string_view("*")).put(".MSJ");
    StrRef found = env_find(nb.done());
    uint16_t h = (sr_ok(found) && found.n) ? f_open(found, fmode::ReadOnly | fmode::Quiet) : kBadHandle;
    scr_release(m);
    if (h == kBadHandle) return g_lang.state;
    // A file of more lines than the table can address is not a language
    // file of this system: it is left alone as a whole.
    int lines = 0;
    for (;;) {
        StrRef l = f_read_line(h);
        scr_release(m);
        if (sr_status(l) == ier::DiskIO || ++lines > kLangMaxLines) break;
    }
    if (lines == 0 || lines > kLangMaxLines || f_seek(h, 0)) {
        f_close(h);
        return g_lang.state;
    }
    static char text[kStrMax];  // the language string while it is built
    size_t len = 0;
    Lang L;
    L.enabled = g_lang.enabled;
    for (;;) {
        StrRef l = f_read_line(h);
        if (sr_status(l) == ier::DiskIO) break;
        std::string_view line = sv(l);
        int code = code_of(line);
        int idx = code - L.first;
        // Codes must ascend; a repeated or lower code, or one beyond the
        // offset table, is ignored rather than read outside the table.
        if (code == 0 || (L.entries && (code <= L.last || idx >= kLangOffsets))) {
            scr_release(m);
            continue;
        }
        if (!L.entries) {
            L.first = code;
            idx = 0;
        }
        for (int k = L.entries; k < idx; k++) L.end[k] = static_cast<uint16_t>(len);  // gaps: empty texts
        std::string_view body = line.size() > 5 ? line.substr(5) : std::string_view();
        for (size_t p = 0; p < body.size() && len < kStrMax; p++) {
            // "\n" in a line stands for CR LF.
            if (body[p] == '\\' && p + 1 < body.size() && body[p + 1] == 'n') {
                text[len++] = '\r';
                if (len < kStrMax) text[len++] = '\n';
                p++;
            } else {
                text[len++] = body[p];
            }
        }
        L.end[idx] = static_cast<uint16_t>(len);
        L.entries = idx + 1;
        L.last = code;
        scr_release(m);
    }
    f_close(h);
    if (L.entries > 0 && st_set(grp::Runtime, rtitem::LangTexts, sr(text, len)) == 0) {
        L.state = LangState::Loaded;
        g_lang = L;
    }
    return g_lang.state;
}

StrRef msg(StrRef key) {
    if (!sr_ok(key)) return key;
    if (g_lang.enabled && g_lang.state == LangState::NotTried) {
        // Loading stores the language texts in the string table, which moves
        // every text stored after them: a key held there must be read first.
        ScratchMark m = scr_mark();
        StrRef k = scr_copy(key);
        lang_load();
        return sr_ok(k) ? scr_keep(m, lookup(k)) : k;
    }
    return lookup(key);
}

StrRef msg(int code) {
    char key[5];
    int c = code < 0 ? 0 : code % 10000;
    for (int i = 3; i >= 0; i--) { key[i] = static_cast<char>('0' + c % 10); c /= 10; }
    key[4] = 0;
    return msg(sr(key, 4));
}

StrRef msg_builtin(int code) {
    char key[4];
    int c = code < 0 ? 0 : code % 10000;
    for (int i = 3; i >= 0; i--) {
        key[i] = static_cast<char>('0' + c % 10);
        c /= 10;
    }
    return builtin_text(std::string_view(key, 4));
}

int lang_number() {
    StrRef l = env_get(env::LangModule);
    return l.n ? lst_pos(sr(kLanguages), l) : 0;
}

StrRef lang_file_name(StrRef name, int langno) {
    if (!sr_ok(name)) return name;
    if (langno < 0) langno = lang_number();
    if (langno < 1 || langno > 5) return scr_copy(name);
    static constexpr std::string_view kSuffix = "_en,_es,_fr,_de,_it";
    std::string_view n = sv(name);
    size_t last_sep = n.find_last_of("\\/");
    size_t from = last_sep == std::string_view::npos ? 0 : last_sep + 1;
    size_t dot = n.find('.', from);
    if (dot == std::string_view::npos) dot = n.size();
    ScratchMark m = scr_mark();
    ScrBuild b;
    b.put(n.substr(0, dot)).put(lst_field(sr(kSuffix), langno)).put(n.substr(dot));
    return scr_keep(m, b.done());
}

}  // namespace rt
