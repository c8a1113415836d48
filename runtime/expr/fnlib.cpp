#include "runtime/expr/fnlib.h"

#include <ctime>

#include "platform/fs.h"
#include "runtime/core/env.h"
#include "runtime/core/list.h"
#include "runtime/core/scratch.h"
#include "runtime/core/status.h"
#include "runtime/core/str.h"
#include "runtime/expr/fixed.h"
#include "runtime/expr/ftype.h"
#include "runtime/expr/func.h"

namespace rt {
namespace {

// Function numbers in the table.
enum : int { kValN = 5, kDate = 14, kMask = 16, kTrim = 19 };

bool count_ok(const FnCall& c, int lo, int hi) { return c.argc >= lo && c.argc <= hi; }

// A date argument: a number is its digits, a text with a separator is read
// as the user writes dates.
StrRef date_arg(const FnCall& c, int i) {
    StrRef t = fn_arg_text(c, i);
    if (!fn_arg_is_text(c, i)) {
        Num v = fn_arg_num(c, i);
        return num_text(num_from_int(num_int_part(v, num_precis()), 0), 0);
    }
    return t;
}

int32_t date_number(StrRef text) {
    std::string_view s = sv(text);
    if (s.size() != 8) return 0;
    int32_t v = 0;
    for (char ch : s) {
        if (ch < '0' || ch > '9') return 0;
        v = v * 10 + (ch - '0');
    }
    return v;
}

IER fn_date(const FnCall& c, Value* r) {
    if (!count_ok(c, 0, 2)) return ier::SINTAXERROR;
    int format = c.argc > 1 ? static_cast<int>(num_int_part(fn_arg_num(c, 1), num_precis())) : 0;
    StrRef date = c.argc ? date_arg(c, 0) : sr_empty();
    if (format & 128) {
        // The first argument names a file: its last-written date.
        StrRef name = env_expand(fn_arg_text(c, 0));
        plat::FileInfo fi;
        if (!plat::file_info(sv(name), &fi)) {
            *r = Value::of_text(sr_empty());
            return 0;
        }
        std::time_t t = static_cast<std::time_t>(fi.written);
        std::tm tm{};
        localtime_r(&t, &tm);
        date = num_text((tm.tm_year + 1900) * 10000LL + (tm.tm_mon + 1) * 100 + tm.tm_mday, 0);
    } else if (sv(date).find_first_of("-./") != std::string_view::npos) {
        date = dt_read(date);
    }
    StrRef out = dt_format(date, format & 127);
    if (!sr_ok(out)) return sr_status(out);
    *r = Value::of_text(out);
    return 0;
}

IER fn_mask(const FnCall& c, Value* r) {
    if (!count_ok(c, 2, 3)) return ier::SINTAXERROR;
    if (!fn_arg_is_text(c, 0)) return ier::TypeMismatch;
    int mode = c.argc > 2 ? static_cast<int>(num_int_part(fn_arg_num(c, 2, num_from_int(255, num_precis())), num_precis())) : 255;
    StrRef out = ft_mask(fn_arg_text(c, 0), fn_arg_text(c, 1), mode);
    if (!sr_ok(out)) return sr_status(out);
    *r = Value::of_text(out);
    return 0;
}

IER fn_trim(const FnCall& c, Value* r) {
    if (!count_ok(c, 1, 2)) return ier::SINTAXERROR;
    StrRef t = fn_arg_text(c, 0);
    int mode = 3;
    if (c.argc > 1) {
        mode = lst_pos(sr("LEFTTRIM,RIGHTRIM,BOTHTRIM,FIT"), str_upper(fn_arg_text(c, 1)));
        if (!mode) return ier::SINTAXERROR;
    }
    StrRef out = mode == 4 ? str_normalize(t) : scr_copy(str_trim(t, mode));
    if (!sr_ok(out)) return sr_status(out);
    *r = Value::of_text(out);
    return 0;
}

IER fn_valn(const FnCall& c, Value* r) {
    if (!count_ok(c, 1, 3)) return ier::SINTAXERROR;
    int p = num_precis();
    StrRef kind = c.argc > 1 ? str_upper(fn_arg_text(c, 1)) : sr("N");
    if (!kind.n) kind = sr("N");
    char k = kind.n == 1 ? kind.p[0] : 0;
    if (k == 'N') {
        Num v = 0;
        num_parse(ft_input_number(fn_arg_text(c, 0)), p, &v);
        *r = Value::number(v);
        return 0;
    }
    if (k != 'D' && k != 'M' && k != 'Y' && k != 'V') return ier::SINTAXERROR;
    int32_t first = date_number(dt_read(date_arg(c, 0)));
    int unit = k == 'D' ? 1 : k == 'M' ? 2 : 4;
    int32_t out = 0;
    bool second_is_date = false;
    int32_t n = 0;
    if (c.argc > 2) {
        if (fn_arg_is_text(c, 2)) {
            n = date_number(dt_read(fn_arg_text(c, 2)));
            second_is_date = true;
        } else {
            long long v = num_int_part(fn_arg_num(c, 2), p);
            n = static_cast<int32_t>(v < -1000000 ? -1000000 : v > 99999999 ? 99999999 : v);
            second_is_date = n > 10000;
        }
    }
    if (second_is_date) {
        // From the first date to the second one.
        if (k == 'V') out = 0;
        else if (IER st = dt_arith(n, first, unit, &out)) return st;
    } else if (k == 'V') {
        out = first;
    } else if (IER st = dt_arith(first, n, unit, &out)) {
        return st;
    }
    *r = Value::number(num_from_int(out, p));
    return 0;
}

}  // namespace

void fnlib_install() {
    fn_set_builtin(kValN, fn_valn);
    fn_set_builtin(kDate, fn_date);
    fn_set_builtin(kMask, fn_mask);
    fn_set_builtin(kTrim, fn_trim);
}

}  // namespace rt
