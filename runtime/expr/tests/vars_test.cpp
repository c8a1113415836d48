#include "runtime/expr/vars.h"

#include <string>
#include <vector>

#include "runtime/core/blocks.h"
#include "runtime/core/hooks.h"
#include "runtime/core/list.h"
#include "runtime/core/rtarray.h"
#include "runtime/core/scratch.h"
#include "runtime/core/startup.h"
#include "runtime/core/status.h"
#include "runtime/core/strtab.h"
#include "runtime/core/sysvar.h"
#include "runtime/expr/fixed.h"
#include "tests/support/rtfixture.h"

namespace rt {
namespace {

using test::str;

class VarsTest : public test::RtTest {
protected:
    void TearDown() override {
        vars_done();
        RtTest::TearDown();
    }
};

Num num(const char* text) {
    Num v = 0;
    EXPECT_EQ(num_parse(sr(text), num_precis(), &v), 0) << text;
    return v;
}

IER set(const char* name, const char* number) { return var_assign(sr(name), Value::number(num(number))); }
IER set_text(const char* name, const char* text) { return var_assign(sr(name), Value::of_text(sr(text))); }

Num get(const char* name) {
    Value v;
    EXPECT_EQ(var_read(sr(name), &v), 0) << name;
    EXPECT_FALSE(v.is_text()) << name;
    return v.num;
}

std::string get_text(const char* name) {
    Value v;
    EXPECT_EQ(var_read(sr(name), &v), 0) << name;
    EXPECT_TRUE(v.is_text()) << name;
    return str(v.text);
}

int16_t stored_int(const char* name) {
    int no = var_find(sr(name));
    auto* p = no >= 0 ? static_cast<int16_t*>(ra_get(arr::IntValues, unsigned(no))) : nullptr;
    return p ? *p : int16_t(-9999);
}

TEST_F(VarsTest, MissingVariablesReadEmptyAndAreNotCreated) {
    struct Case {
        const char* name;
        int list;
    } cases[] = {{"X#", 1}, {"X$", 2}, {"N", 0}, {"_NOSUCH", 0}};
    for (const auto& c : cases) {
        std::string before = str(st_get(grp::VarNames, c.list));
        Value v;
        ASSERT_EQ(var_read(sr(c.name), &v), 0) << c.name;
        if (v.is_text()) EXPECT_EQ(str(v.text), "") << c.name;
        else EXPECT_EQ(v.num, 0) << c.name;
        EXPECT_EQ(var_find(sr(c.name)), -1) << c.name;
        EXPECT_EQ(str(st_get(grp::VarNames, c.list)), before) << c.name;
    }
}

TEST_F(VarsTest, ValuesReadBackByType) {
    ASSERT_EQ(set("A#", "-12.34"), 0);
    ASSERT_EQ(set_text("T$", "hello"), 0);
    ASSERT_EQ(set("N", "7"), 0);
    EXPECT_EQ(get("A#"), num("-12.34"));
    EXPECT_EQ(get_text("T$"), "hello");
    EXPECT_EQ(get("N"), num("7"));  // an integer reads as a number
    ASSERT_EQ(set_text("T$", ""), 0);
    EXPECT_EQ(get_text("T$"), "");
    // Names are compared exactly.
    EXPECT_EQ(get("a#"), 0);
}

TEST_F(VarsTest, IntegerAssignmentRoundsAndKeeps16Bits) {
    struct Case {
        const char* value;
        int16_t stored;
    } cases[] = {{"2.5", 3}, {"-2.5", -3}, {"0.7", 1}, {"0.49", 0}, {"-0.5", -1},
                 {"32767", 32767}, {"32768", -32768}, {"-1", -1}};
    for (const auto& c : cases) {
        ASSERT_EQ(set("N", c.value), 0) << c.value;
        EXPECT_EQ(stored_int("N"), c.stored) << c.value;
        EXPECT_EQ(get("N"), num_from_int(c.stored, num_precis())) << c.value;
    }
}

TEST_F(VarsTest, NumbersAreNotRescaledWhenPrecisChanges) {
    ASSERT_EQ(set("A#", "1.23"), 0);
    auto* raw = static_cast<Num*>(ra_get(arr::NumValues, unsigned(var_find(sr("A#")))));
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(*raw, 123);
    ASSERT_EQ(set("_PRECIS", "3"), 0);
    EXPECT_EQ(sysv_get(sysv::PRECIS), 3);
    EXPECT_EQ(get("A#"), 123);
    EXPECT_EQ(str(num_plain(get("A#"), num_precis())), "0.123");
    EXPECT_EQ(get("_PRECIS"), 3000);  // an integer read scales with the new P
}

TEST_F(VarsTest, TextConstants) {
    struct Case {
        const char* name;
        const char* text;
    } cases[] = {{".lf$", "\r\n"}, {".tab$", "\t"}, {".pchr$", "\\"}, {".null$", ""}, {".LF$", ""}, {".x$", ""}};
    for (const auto& c : cases) {
        EXPECT_EQ(get_text(c.name), c.text) << c.name;
        EXPECT_EQ(var_find(sr(c.name)), -1) << c.name;
    }
    // A constant cannot be assigned (it would never read back).
    EXPECT_EQ(set_text(".lf$", "x"), ier::SINTAXERROR);
    EXPECT_EQ(get_text(".lf$"), "\r\n");
}

TEST_F(VarsTest, RefusedNamesAndTypes) {
    Value v;
    EXPECT_EQ(var_read(sr("A@B"), &v), ier::SINTAXERROR);
    EXPECT_EQ(var_read(sr("A("), &v), ier::SINTAXERROR);
    EXPECT_EQ(var_read(sr(""), &v), ier::SINTAXERROR);
    struct Case {
        const char* name;
        Value value;
        IER st;
    } cases[] = {
        {"A@B", Value::number(1), ier::SINTAXERROR},
        {"A(", Value::number(1), ier::SINTAXERROR},
        {"N", Value::of_text(sr("x")), ier::TypeMismatch},
        {"N#", Value::of_text(sr("x")), ier::TypeMismatch},
        {"T$", Value::number(1), ier::TypeMismatch},
        {"A,B", Value::number(1), ier::SINTAXERROR},  // would split the name list
        {"A'B$", Value::of_text(sr("x")), ier::SINTAXERROR},
    };
    std::string lists[4];
    for (int k = 0; k < 4; k++) lists[k] = str(st_get(grp::VarNames, k));
    for (const auto& c : cases) EXPECT_EQ(var_assign(sr(c.name), c.value), c.st) << c.name;
    for (int k = 0; k < 4; k++) EXPECT_EQ(str(st_get(grp::VarNames, k)), lists[k]);
    IER origin;
    int module;
    err_origin_get(&origin, &module);
    EXPECT_EQ(module, mod::VARNMASSIGN);
}

TEST_F(VarsTest, SystemVariablesAfterStartUp) {
    struct Case {
        const char* name;
        int value;
    } cases[] = {{"_DEVHIG", 24}, {"_DEVWID", 80}, {"_TRACE", 1}, {"_PRECIS", 2}, {"_LASTKEY", 4},
                 {"_UPSTAT", 1},  {"_LB", 128},    {"_BYEAR", 2000}, {"_BKYEAR", 80}, {"_STAT", 0}};
    for (const auto& c : cases) EXPECT_EQ(get(c.name), num_from_int(c.value, 2)) << c.name;
    EXPECT_EQ(var_find(sr("_ACUM$")), 0);
    EXPECT_EQ(var_find(sr("_ACUMX$")), 1);
    EXPECT_EQ(var_find(sr("_LTEXT$")), 2);
    // Assigning by name is what the runtime reads by number.
    ASSERT_EQ(set("_DEVHIG", "30"), 0);
    EXPECT_EQ(sysv_get(sysv::DEVHIG), 30);
}

TEST_F(VarsTest, SystemIntegerNumbersStayFixed) {
    auto check = [](const char* when) {
        StrRef list = sr(kSysIntVars);
        for (int i = 1; i <= lst_count(list); i++) {
            std::string f(sv(lst_field(list, i)));
            std::string name = f.substr(0, f.find('='));
            EXPECT_EQ(var_find(sr(name)), i - 1) << name << " " << when;
        }
    };
    check("at start");
    VarScope mark = var_scope_mark();
    for (int i = 0; i < 20; i++) ASSERT_EQ(set(("L" + std::to_string(i)).c_str(), "1"), 0);
    check("with locals");
    ASSERT_EQ(var_scope_restore(mark), 0);
    check("after restore");
}

TEST_F(VarsTest, ScopeRestoreRemovesWhatTheScopeCreated) {
    ASSERT_EQ(set("A", "5"), 0);
    ASSERT_EQ(set_text("OUT$", "kept"), 0);
    int blocks = blk_count();
    int texts = st_count(grp::TextValues);
    VarScope mark = var_scope_mark();

    ASSERT_EQ(set("B", "7"), 0);
    ASSERT_EQ(set("A", "9"), 0);
    ASSERT_EQ(set("X#", "1.5"), 0);
    ASSERT_EQ(set_text("IN$", "inside"), 0);
    int in_no = var_find(sr("IN$"));
    int sizes[] = {3};
    ASSERT_EQ(var_array_make(sr("R("), sizes, 1, Value::number(0)), 0);
    ASSERT_EQ(var_scope_restore(mark), 0);

    EXPECT_EQ(get("B"), 0);
    EXPECT_EQ(var_find(sr("B")), -1);
    EXPECT_EQ(get("X#"), 0);
    EXPECT_EQ(get_text("IN$"), "");
    EXPECT_EQ(var_find(sr("R(")), -1);
    EXPECT_EQ(get("A"), num("9"));  // created before: lives on with its last value
    EXPECT_EQ(get_text("OUT$"), "kept");
    EXPECT_EQ(blk_count(), blocks);  // the array's element block went with it

    // The text items stay and are reused by the next text variable, which
    // sees its own value and nothing of the old one.
    EXPECT_EQ(st_count(grp::TextValues), texts + 1);
    ASSERT_EQ(set_text("NEXT$", "n"), 0);
    EXPECT_EQ(var_find(sr("NEXT$")), in_no);
    EXPECT_EQ(get_text("NEXT$"), "n");
    EXPECT_EQ(st_count(grp::TextValues), texts + 1);
}

TEST_F(VarsTest, ScopeRestoreOfAListThatShrankIsRefused) {
    VarScope outer = var_scope_mark();
    ASSERT_EQ(set("A", "1"), 0);
    VarScope inner = var_scope_mark();
    ASSERT_EQ(set("B", "1"), 0);
    ASSERT_EQ(var_scope_restore(outer), 0);
    EXPECT_EQ(var_scope_restore(inner), ier::INTERNALERROR);
    EXPECT_EQ(var_find(sr("A")), -1);
}

TEST_F(VarsTest, TextArrayElementsHaveTheInitialValuesLength) {
    int sizes[] = {2};
    ASSERT_EQ(var_array_make(sr("T$("), sizes, 1, Value::of_text(sr("     "))), 0);
    struct Case {
        const char* write;
        const char* reads;
    } cases[] = {{"ab", "ab   "}, {"abcdefg", "abcde"}, {"", "     "}, {"12345", "12345"}};
    int at[] = {1};
    for (const auto& c : cases) {
        ASSERT_EQ(var_array_write(sr("T$("), at, 1, Value::of_text(sr(c.write))), 0) << c.write;
        Value v;
        ASSERT_EQ(var_array_read(sr("T$("), at, 1, &v), 0);
        EXPECT_EQ(str(v.text), c.reads) << c.write;
        for (int other : {0, 2}) {
            ASSERT_EQ(var_array_read(sr("T$("), &other, 1, &v), 0);
            EXPECT_EQ(str(v.text), "     ") << c.write << " at " << other;
        }
    }
}

TEST_F(VarsTest, ArrayMakeLimits) {
    int sizes[] = {1, 1, 1, 1, 1};
    struct Case {
        const char* name;
        int dims;
        Value init;
        IER st;
    } cases[] = {
        {"A(", 4, Value::number(0), 0},
        {"B(", 5, Value::number(0), ier::DIMSTRUCERROR},
        {"C(", 0, Value::number(0), ier::DIMSTRUCERROR},
        {"D$(", 2, Value::of_text(sr("")), ier::SINTAXERROR},  // element size 0
        {"E#(", 2, Value::of_text(sr("x")), ier::TypeMismatch},
        {"F$(", 2, Value::number(0), ier::TypeMismatch},
        {"G", 2, Value::number(0), ier::SINTAXERROR},  // not an array name
    };
    for (const auto& c : cases) {
        EXPECT_EQ(var_array_make(sr(c.name), sizes, c.dims, c.init), c.st) << c.name;
        EXPECT_EQ(var_find(sr(c.name)) >= 0, c.st == 0) << c.name;
    }
    int zero[] = {0, 0};
    EXPECT_EQ(var_array_make(sr("H("), zero, 2, Value::number(0)), ier::SINTAXERROR);  // one element
    int idx[] = {1, 0, 1, 1};
    Value v;
    ASSERT_EQ(var_array_write(sr("A("), idx, 4, Value::number(num("3"))), 0);
    ASSERT_EQ(var_array_read(sr("A("), idx, 4, &v), 0);
    EXPECT_EQ(v.num, num("3"));
}

TEST_F(VarsTest, ArrayIndexesOutsideTheirDimensionGive168AndWriteNothing) {
    int sizes[] = {3, 2};  // extents 4 and 3
    ASSERT_EQ(var_array_make(sr("A#("), sizes, 2, Value::number(num("1"))), 0);
    struct Case {
        int i, j;
    } cases[] = {{-1, 0}, {4, 0}, {0, 3}, {0, -1}, {3, 3}, {-1, -1}, {1000, 0}};
    for (const auto& c : cases) {
        int idx[] = {c.i, c.j};
        Value v;
        EXPECT_EQ(var_array_read(sr("A#("), idx, 2, &v), ier::DATAOUTBOUND) << c.i << "," << c.j;
        EXPECT_EQ(var_array_write(sr("A#("), idx, 2, Value::number(num("9"))), ier::DATAOUTBOUND)
            << c.i << "," << c.j;
    }
    for (int i = 0; i <= 3; i++)
        for (int j = 0; j <= 2; j++) {
            int idx[] = {i, j};
            Value v;
            ASSERT_EQ(var_array_read(sr("A#("), idx, 2, &v), 0);
            EXPECT_EQ(v.num, num("1")) << i << "," << j;  // (0,3) would have been (1,0)
        }
    int one[] = {1};
    Value v;
    EXPECT_EQ(var_array_read(sr("A#("), one, 1, &v), ier::DIMSTRUCERROR);  // indices must match
}

TEST_F(VarsTest, IntegerElementsTruncateAndReadAsNumbers) {
    int sizes[] = {4};
    ASSERT_EQ(var_array_make(sr("I("), sizes, 1, Value::number(num("2.9"))), 0);
    struct Case {
        const char* value;
        const char* reads;
    } cases[] = {{"2.75", "2"}, {"-2.75", "-2"}, {"0.99", "0"}, {"123", "123"}};
    int at[] = {4};
    Value v;
    ASSERT_EQ(var_array_read(sr("I("), at, 1, &v), 0);
    EXPECT_EQ(v.num, num("2"));  // the fill value converts as a write does
    for (const auto& c : cases) {
        ASSERT_EQ(var_array_write(sr("I("), at, 1, Value::number(num(c.value))), 0);
        ASSERT_EQ(var_array_read(sr("I("), at, 1, &v), 0);
        EXPECT_FALSE(v.is_text());
        EXPECT_EQ(v.num, num(c.reads)) << c.value;
    }
    EXPECT_EQ(var_array_write(sr("I("), at, 1, Value::of_text(sr("x"))), ier::TypeMismatch);
}

TEST_F(VarsTest, MissingArrays) {
    int idx[] = {2, 3};
    EXPECT_EQ(var_array_write(sr("W("), idx, 2, Value::number(1)), ier::DIMSTRUCERROR);
    EXPECT_EQ(var_find(sr("W(")), -1);
    // A read makes the array, as large as the indices read.
    Value v;
    ASSERT_EQ(var_array_read(sr("M#("), idx, 2, &v), 0);
    EXPECT_EQ(v.num, 0);
    EXPECT_GE(var_find(sr("M#(")), 0);
    EXPECT_EQ(var_array_write(sr("M#("), idx, 2, Value::number(5)), 0);
    int beyond[] = {3, 0};
    EXPECT_EQ(var_array_write(sr("M#("), beyond, 2, Value::number(5)), ier::DATAOUTBOUND);
    int neg[] = {-1, 0};
    EXPECT_EQ(var_array_read(sr("N#("), neg, 2, &v), ier::DATAOUTBOUND);
    EXPECT_EQ(var_find(sr("N#(")), -1);
}

TEST_F(VarsTest, RemakingAnArrayReplacesIt) {
    int small[] = {2}, large[] = {9};
    int blocks = blk_count();
    ASSERT_EQ(var_array_make(sr("A("), small, 1, Value::number(num("1"))), 0);
    int no = var_find(sr("A("));
    int with_one = blk_count();
    ASSERT_EQ(var_array_make(sr("A("), large, 1, Value::number(num("4"))), 0);
    EXPECT_EQ(var_find(sr("A(")), no);
    EXPECT_EQ(blk_count(), with_one);  // the old element block was freed
    int at[] = {9};
    Value v;
    ASSERT_EQ(var_array_read(sr("A("), at, 1, &v), 0);
    EXPECT_EQ(v.num, num("4"));
    vars_done();
    EXPECT_EQ(blk_count(), blocks);
}

// A resolver that owns the screen fields "_SCRF1$" and "_SCRN#"; every other
// name is not its business.
std::string g_field = "from screen";
std::vector<std::string> g_writes;
StrRef fake_resolver(StrRef name, int mode, StrRef value) {
    std::string n(sv(name));
    if (n != "_SCRF1$" && n != "_SCRN#" && n != "_BAD$") return sr_err(ier::BADINPUTDATA);
    if (n == "_BAD$") return sr_err(ier::VariableScreenField);
    if (mode == kHookWrite) {
        g_writes.push_back(n + "=" + std::string(sv(value)));
        return sr_empty();
    }
    return n == "_SCRN#" ? scr_copy(sr("12.5")) : scr_copy(sr(g_field));
}

TEST_F(VarsTest, UnderscoreNamesGoToTheFieldResolverFirst) {
    g_writes.clear();
    hk_register_as(fake_resolver, hook::FieldResolver);
    EXPECT_EQ(get_text("_SCRF1$"), "from screen");
    EXPECT_EQ(get("_SCRN#"), num("12.5"));
    ASSERT_EQ(set_text("_SCRF1$", "typed"), 0);
    ASSERT_EQ(set("_SCRN#", "0.5"), 0);
    EXPECT_EQ(g_writes, (std::vector<std::string>{"_SCRF1$=typed", "_SCRN#=0.5"}));
    EXPECT_EQ(var_find(sr("_SCRF1$")), -1);  // resolved, never stored

    // Names the resolver refuses with 163 are ordinary variables.
    EXPECT_EQ(get("_TRACE"), num("1"));
    ASSERT_EQ(set_text("_MINE$", "stored"), 0);
    EXPECT_EQ(get_text("_MINE$"), "stored");
    EXPECT_GE(var_find(sr("_MINE$")), 0);

    // Any other error of the resolver is the result.
    Value v;
    EXPECT_EQ(var_read(sr("_BAD$"), &v), ier::VariableScreenField);
    EXPECT_EQ(set_text("_BAD$", "x"), ier::VariableScreenField);
}

TEST_F(VarsTest, ScreenFieldTypeFromVVariables) {
    ASSERT_EQ(set_text("_V3$", "N12"), 0);
    ASSERT_EQ(set_text("_V10$", "A"), 0);
    struct Case {
        int n;
        IER st;
        char type;
        int length;
    } cases[] = {{3, 0, 'N', 12}, {10, 0, 'A', 0}, {4, ier::VariableScreenField, 0, 0}};
    for (const auto& c : cases) {
        char type = '?';
        int length = -1;
        EXPECT_EQ(var_screen_field_type(c.n, &type, &length), c.st) << c.n;
        EXPECT_EQ(type, c.type) << c.n;
        EXPECT_EQ(length, c.length) << c.n;
    }
}

// The name index kept beside the lists must agree with the lists whatever
// changed them.
TEST_F(VarsTest, ManyVariablesAreFoundAgain) {
    const int kMany = 500;
    auto name = [](const char* prefix, int i) { return prefix + std::to_string(i); };
    for (int i = 0; i < kMany; i++) {
        ASSERT_EQ(set(name("V", i).c_str(), std::to_string(i).c_str()), 0) << i;
        ASSERT_EQ(set(name("W#", i).c_str(), std::to_string(i).c_str()), 0) << i;
    }
    int first_v = var_find(sr("V0"));
    for (int i = 0; i < kMany; i++) {
        EXPECT_EQ(var_find(sr(name("V", i))), first_v + i);
        EXPECT_EQ(var_find(sr(name("W#", i))), i);
        EXPECT_EQ(get(name("V", i).c_str()), num(std::to_string(i).c_str()));
    }

    // A scope: names created inside go, names before stay, new ones take
    // the freed numbers.
    VarScope mark = var_scope_mark();
    for (int i = kMany; i < 2 * kMany; i++) ASSERT_EQ(set(name("V", i).c_str(), "1"), 0);
    ASSERT_EQ(var_scope_restore(mark), 0);
    EXPECT_EQ(var_find(sr(name("V", kMany))), -1);
    EXPECT_EQ(var_find(sr(name("V", 2 * kMany - 1))), -1);
    EXPECT_EQ(var_find(sr(name("V", kMany - 1))), first_v + kMany - 1);
    ASSERT_EQ(set("AFTER", "2"), 0);
    EXPECT_EQ(var_find(sr("AFTER")), first_v + kMany);

    // Core appends integer names without telling the store.
    ASSERT_EQ(var_declare_int(sr("customers"), 3), 0);
    ASSERT_EQ(var_declare_int(sr("suppliers"), 4), 0);
    EXPECT_EQ(var_find(sr("customers")), first_v + kMany + 1);
    EXPECT_EQ(get("suppliers"), num("4"));
    ASSERT_EQ(set("customers", "8"), 0);  // the same variable, not a second one
    EXPECT_EQ(var_int_find(sr("customers")), first_v + kMany + 1);
    EXPECT_EQ(lst_count(st_get(grp::VarNames, 0)), first_v + kMany + 3);
    EXPECT_EQ(get("customers"), num("8"));
    EXPECT_EQ(get("AFTER"), num("2"));
}

// The stores are built anew for every program run (and every test): what
// the store knew of the old one must not leak into the new one, even when a
// new list has the old one's length.
TEST_F(VarsTest, ANewStoreStartsWithNoOldNames) {
    ASSERT_EQ(set("ZZ", "5"), 0);
    ASSERT_EQ(set_text("Z$", "old"), 0);
    // Torn down without vars_done, as a path that holds no arrays may do.
    ASSERT_EQ(rt_stores_teardown(), 0);
    ASSERT_EQ(rt_stores_init(), 0);
    ASSERT_EQ(var_declare_int(sr("yy"), 6), 0);  // same length as "ZZ"
    EXPECT_EQ(var_find(sr("ZZ")), -1);
    EXPECT_EQ(get("yy"), num("6"));
    EXPECT_EQ(get_text("Z$"), "");
    ASSERT_EQ(set_text("Y$", "new"), 0);
    EXPECT_EQ(var_find(sr("Y$")), 3);
}

}  // namespace
}  // namespace rt
