#include "runtime/expr/fnlib.h"

#include "runtime/core/scratch.h"
#include "runtime/expr/fixed.h"
#include "runtime/expr/fnimpl.h"

namespace rt {

long long fn_arg_int(const FnCall& c, int i, long long def) {
    if (!fn_arg_present(c, i)) return def;
    if (fn_arg_is_text(c, i) && !fn_arg_text(c, i).n) return def;
    return num_int_part(fn_arg_num(c, i), num_precis());
}

IER fn_text_result(Value* r, StrRef t) {
    if (!sr_ok(t)) return sr_status(t);
    *r = Value::of_text(t);
    return 0;
}

void fnlib_install() {
    fn_text_install();
    fn_file_install();
    llist_install();
}

}  // namespace rt
