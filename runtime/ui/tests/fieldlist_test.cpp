// The field-list parser on its own: items, parts, short forms, positions,
// types and the option block.
#include "runtime/ui/fieldlist.h"

#include <gtest/gtest.h>

#include <string>

namespace rt {
namespace {

struct ItemCase {
    const char* list;
    int item;  // 0-based
    int parts;
    const char* prompt;
    char type;
    int length;
    const char* bind;
    const char* op;
    const char* def;
    const char* target;
};

TEST(FieldListParse, ItemsAndParts) {
    const ItemCase cases[] = {
        // two parts: prompt and type
        {"'Kgs:':'26':,'Tot:':'26'", 0, 2, "Kgs:", '2', 6, "", "", "", ""},
        {"'Kgs:':'26':,'Tot:':'26'", 1, 2, "Tot:", '2', 6, "", "", "", ""},
        // empty parts keep their place
        {"'Host:':'A30'::%s", 0, 4, "Host:", 'A', 30, "", "", "%s", ""},
        {"'Name:':'A30':NAME$:'x':OTHER$", 0, 5, "Name:", 'A', 30, "NAME$", "", "'x'", "OTHER$"},
        // a comparison operator at the end of part 3
        {"'From:':'N8':CODE{1}>=", 0, 3, "From:", 'N', 8, "CODE{1}", ">=", "", ""},
        {"'Is:':'A10':NAME{}==", 0, 3, "Is:", 'A', 10, "NAME{}", "==", "", ""},
        // one part: a data-file field
        {"NAME{CUSTOMERS}", 0, 1, "", 0, 0, "NAME{CUSTOMERS}", "", "", ""},
        {"CODE{2}<>", 0, 1, "", 0, 0, "CODE{2}", "<>", "", ""},
        // quotes hide separators; parentheses and braces keep commas together
        {"'a,b:c':'A5':X$:FN$LEFT('p,q',1)", 0, 4, "a,b:c", 'A', 5, "X$", "", "FN$LEFT('p,q',1)", ""},
        {"{3,10}'Host:':'A30',\"It's:\":'P8':PW$", 1, 3, "It's:", 'P', 8, "PW$", "", "", ""},
        // ';' read as ':' when the list has no ':' and at least two ';'
        {"'Name';'A20';N$", 0, 3, "Name", 'A', 20, "N$", "", "", ""},
        {"'a;b':'A2'", 0, 2, "a;b", 'A', 2, "", "", "", ""},
        // an expression as prompt stays as written
        {"FN$TRIM(P$):'A5':X$", 0, 3, "FN$TRIM(P$)", 'A', 5, "X$", "", "", ""},
    };
    for (const ItemCase& c : cases) {
        SCOPED_TRACE(c.list);
        FieldSpec fs;
        ASSERT_EQ(fs_parse(c.list, &fs), 0);
        ASSERT_LT(c.item, int(fs.items.size()));
        const FieldItem& it = fs.items[size_t(c.item)];
        EXPECT_EQ(it.parts, c.parts);
        EXPECT_EQ(it.prompt, c.prompt);
        EXPECT_EQ(it.type, c.type);
        EXPECT_EQ(it.length, c.length);
        EXPECT_EQ(it.bind, c.bind);
        EXPECT_EQ(it.op, c.op);
        EXPECT_EQ(it.def, c.def);
        EXPECT_EQ(it.target, c.target);
    }
}

TEST(FieldListParse, SemicolonsOnlyWhenNoColonAndAtLeastTwo) {
    struct Case {
        const char* list;
        int parts;
    } cases[] = {
        {"'A';'N5';X#", 3},        // two ';', no ':'
        {"'A';'N5'", 1},           // one ';' is no separator
        {"'A':'N5';X#", 2},        // a ':' keeps ';' as it is
        {"'A';'N5';X#,'B';'A3'", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.list);
        FieldSpec fs;
        ASSERT_EQ(fs_parse(c.list, &fs), 0);
        EXPECT_EQ(fs.items[0].parts, c.parts);
    }
}

TEST(FieldListParse, PositionsFromBracesAndRowCol) {
    struct Case {
        const char* list;
        int brace_row, brace_col, at_row, at_col;
        const char* prompt;
    } cases[] = {
        {"'Name:':'A30'/ROW=5/COL=20", 0, 0, 5, 20, "Name:"},
        {"'Name:':'A30':N$/COL=7", 0, 0, 0, 7, "Name:"},
        {"{3,10}'Host:':'A30'", 3, 10, 0, 0, "Host:"},
        {"{3,10}'Host:':'A30'/ROW=4", 3, 10, 4, 0, "Host:"},
        {"'/ROW=9':'A3'", 0, 0, 0, 0, "/ROW=9"},  // inside quotes it is text
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.list);
        FieldSpec fs;
        ASSERT_EQ(fs_parse(c.list, &fs), 0);
        const FieldItem& it = fs.items[0];
        EXPECT_EQ(it.brace_row, c.brace_row);
        EXPECT_EQ(it.brace_col, c.brace_col);
        EXPECT_EQ(it.at_row, c.at_row);
        EXPECT_EQ(it.at_col, c.at_col);
        EXPECT_EQ(it.prompt, c.prompt);
        EXPECT_EQ(it.type, 'A');
    }
}

TEST(FieldListParse, VariableTypes) {
    FieldSpec fs;
    ASSERT_EQ(fs_parse("'a':'V3':X$,'b':'v12'", &fs), 0);
    EXPECT_EQ(fs.items[0].type, 'V');
    EXPECT_EQ(fs.items[0].vnum, 3);
    EXPECT_EQ(fs.items[1].vnum, 12);
}

TEST(FieldListParse, Refusals) {
    FieldSpec fs;
    EXPECT_EQ(fs_parse("", &fs), 163);
    EXPECT_EQ(fs_parse("   /FD$=X", &fs), 163);
    EXPECT_EQ(fs_parse("'a':'A1',,'b':'A1'", &fs), 163);
    std::string many;
    for (int i = 0; i <= kScreenFieldsMax; i++) many += (i ? "," : "") + std::string("'a':'A1'");
    EXPECT_EQ(fs_parse(many, &fs), 163);
    EXPECT_EQ(fs_parse(std::string(size_t(kFieldListTextMax) + 1, 'a'), &fs), 146);
}

TEST(FieldListOptions, BlockAndValues) {
    FieldSpec fs;
    ASSERT_EQ(fs_parse("'Kgs:':'26':,'Tot:':'26' /ASSIGN$=\"0,_SCRF1#+_SCRF2#\":_SCRF1#$=\"_SCRF2#,_SCRF1#\""
                              ":NOEDIT$=\"_SCRF2#\":WRITE$=\"_clc#=_SCRF2#\"",
                              &fs),
              0);
    ASSERT_EQ(fs.items.size(), 2u);
    struct Case {
        const char* name;
        bool found;
        const char* value;
    } cases[] = {
        {"ASSIGN$", true, "0,_SCRF1#+_SCRF2#"},
        {"_SCRF1#$", true, "_SCRF2#,_SCRF1#"},
        {"noedit$", true, "_SCRF2#"},
        {"WRITE$", true, "_clc#=_SCRF2#"},
        {"FD$", false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string v;
        EXPECT_EQ(fs_option(fs.options, c.name, &v), c.found);
        EXPECT_EQ(v, c.value);
    }
}

TEST(FieldListOptions, SeparatorsAndQuotes) {
    struct Case {
        const char* block;
        const char* name;
        const char* value;
    } cases[] = {
        {"A$=1 B$=2", "B$", "2"},
        {"A$=1&B$=2", "B$", "2"},
        {"A$=1/B$=2", "B$", "2"},
        {"A$=1:B$=2", "B$", "2"},
        {"A$='x y:z/w&v':B$=2", "A$", "x y:z/w&v"},
        {"A$=\"it's\"", "A$", "it's"},
        {"A$=1:A$=2", "A$", "1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.block);
        std::string v;
        EXPECT_TRUE(fs_option(c.block, c.name, &v));
        EXPECT_EQ(v, c.value);
    }
    std::string set = fs_option_set("A$=1:FD$='old'", "FD$", "X$,Y#");
    std::string v;
    ASSERT_TRUE(fs_option(set, "FD$", &v));
    EXPECT_EQ(v, "X$,Y#");
    ASSERT_TRUE(fs_option(set, "A$", &v));
    EXPECT_EQ(v, "1");
}

}  // namespace
}  // namespace rt
