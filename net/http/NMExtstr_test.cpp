#include "net/http/NMExtstr.h"

#include <gtest/gtest.h>

namespace {

void Fill(TExStringList& l, std::initializer_list<String> lines) {
    for (const auto& s : lines)
        l.Add(s);
}

TEST(TExStringList, IndexOfFieldTakesTheNameBeforeTheFirstColon) {
    TExStringList l;
    Fill(l, {"GET / HTTP/1.0", "Host: a", " Host: b", "Host", "X-Time: 12:30", "Accept: x",
             "accept: second", ": empty name", "Имя: значение"_cp});
    struct Case {
        String name;
        int index;
    };
    const Case cases[] = {
        {"Host", 1},     {"host", 1},
        {"HOST", 1},     {" Host", 2},        // the leading blank belongs to the name
        {"X-Time", 4},   {"X-Time: 12", -1},  // only the text before the first ":"
        {"Accept", 5},                        // the first of two
        {"", 7},         {"GET / HTTP/1.0", -1},
        {"ИМЯ"_cp, 8},  // Cyrillic letters compare without case too
        {"Missing", -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(l.IndexOfField(c.name), c.index) << c.name;
    EXPECT_EQ(TExStringList().IndexOfField("Host"), -1);
}

TEST(TExStringList, SetFieldReplacesInPlaceAppendsOrDeletes) {
    TExStringList l;
    Fill(l, {"GET / HTTP/1.0", "host: old", "Accept: x", "Host: second"});
    l.SetField("Host", "new");
    EXPECT_EQ(l.Text(), "GET / HTTP/1.0\r\nHost: new\r\nAccept: x\r\nHost: second\r\n");

    l.SetField("User-Agent", "kurs");
    EXPECT_EQ(l.Count(), 5);
    EXPECT_EQ(l[4], "User-Agent: kurs");

    l.SetField("HOST", "");  // deletes only the first
    EXPECT_EQ(l.Text(), "GET / HTTP/1.0\r\nAccept: x\r\nHost: second\r\nUser-Agent: kurs\r\n");

    l.SetField("Missing", "");
    EXPECT_EQ(l.Count(), 4);

    // The value is written as given, blanks and colons included.
    l.SetField("Accept", " a: b ");
    EXPECT_EQ(l[1], "Accept:  a: b ");
}

}  // namespace
