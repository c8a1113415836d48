// Local lists: small sorted collections of fixed-length text items kept in
// memory for a script, which holds each list through a 24-byte handle text,
// and the sorting of the fields of a delimited text. Scripts reach both
// through SORT$.
#pragma once
#include "runtime/core/types.h"

namespace rt {

constexpr size_t kLlistHandleLen = 24;

namespace llf {
enum : int { Unique = 1, Descending = 2, NulSeparator = 64, TrimItems = 128 };
}

// Handle and item results are new scratch strings. Every call given a handle
// that is not the one the list's latest NEW or ADD returned (give or take the
// current position, which belongs to the handle) gets 147 and touches nothing.

// K = min(a, b), L = max(a, b); 168 for a size outside 0..65535, a first
// block of a * 256 bytes above 65535 or flags outside 0..255.
IER llist_new(long long a, long long b, long long flags, StrRef* handle);
// 5 for a refused duplicate (*out is the handle unchanged), 163 for an item
// longer than L, 168 when the items would pass 65535 bytes or items.
IER llist_add(StrRef handle, StrRef item, StrRef* out);
// Returns 0 when the new position lies on an item, else 2 (then it is the
// last item); *out is the moved handle.
IER llist_move(StrRef handle, StrRef action, StrRef* out);
// The current item with its padding, or the empty text off the items.
IER llist_get(StrRef handle, StrRef* item);
// Frees the list; its handles are refused from then on.
IER llist_kill(StrRef handle);
// The fields of text sorted (flags llf::*); a result that cannot be a text
// value gives 146 and the empty text.
IER llist_sort_text(StrRef text, long long flags, StrRef* out);

// Lists made and not yet killed in the current stores.
int llist_live();

}  // namespace rt
