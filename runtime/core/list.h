// Delimited lists: fields separated by one character (as a rule ','),
// counted from 1; separators inside quotes do not split (except with the
// separator NUL); a missing field is empty.
#pragma once
#include "runtime/core/types.h"

namespace rt {

int lst_count(StrRef list, char sep = ',');
StrRef lst_field(StrRef list, int n, char sep = ',');  // view
int16_t lst_num(StrRef list, int n, char sep = ',');   // str_number(normalize(field))
int lst_pos(StrRef list, StrRef value, char sep = ',');  // exact match, 0 when none
StrRef lst_set(StrRef list, int n, StrRef value, char sep = ',');  // n 0 appends
StrRef lst_del(StrRef list, int n, char sep = ',');
StrRef lst_union(StrRef a, StrRef b, char sep = ',');
StrRef lst_diff(StrRef a, StrRef b, char sep = ',');
int lst_shortest(StrRef list, char sep = ',');
int lst_longest(StrRef list, char sep = ',');

// Split: the field views in one scratch string (an array of StrRef).
struct LstSplit {
    const StrRef* fields = nullptr;
    int count = 0;
    IER status = 0;
};
LstSplit lst_split(StrRef list, char sep = ',');

// Convenience for fixed vocabularies written in the code.
inline int lst_pos(std::string_view list, std::string_view value, char sep = ',') {
    return lst_pos(sr(list), sr(value), sep);
}
inline StrRef lst_field(std::string_view list, int n, char sep = ',') {
    return lst_field(sr(list), n, sep);
}

}  // namespace rt
