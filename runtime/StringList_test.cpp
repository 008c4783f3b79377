#include "runtime/StringList.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "runtime/ExceptionHook.h"
#include "runtime/Exceptions.h"

namespace {

std::vector<String> Lines(std::string_view text) {
    TStringList list;
    list.SetText(text);
    return list.ToVector();
}

TEST(StringListText, SplitsAtEveryKindOfBreak) {
    using V = std::vector<String>;
    struct Case {
        std::string_view text;
        V lines;
    } cases[] = {
        {"", V{}},
        {"a", V{"a"}},
        {"a\r\nb", V{"a", "b"}},
        {"a\rb", V{"a", "b"}},
        {"a\nb", V{"a", "b"}},
        {"a\n\rb", V{"a", "", "b"}},
        {"a\r\n", V{"a"}},
        {"a\r\n\r\n", V{"a", ""}},
        {"\r\n", V{""}},
        {"\n\n", V{"", ""}},
        {"a\r\rb", V{"a", "", "b"}},
        {"a\r\n\nb", V{"a", "", "b"}},
        {std::string_view("a\r\nb\0c\r\nd", 10), V{"a", "b"}},
        {std::string_view("\0abc", 4), V{}},
        {" x \t", V{" x \t"}},
        // The next CR and the next LF are each found once and passed by
        // many breaks of the other kind.
        {"a\nb\nc\rd\r\ne", V{"a", "b", "c", "d", "e"}},
        {"a\rb\rc\nd\n\re\r", V{"a", "b", "c", "d", "", "e"}},
        {"\r\r\n\n\r", V{"", "", "", ""}},
        {std::string_view("a\rb\nc\0\r\n", 8), V{"a", "b", "c"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Lines(c.text), c.lines) << testing::PrintToString(c.text);
        // A sorted list takes each line through Add: the same lines, sorted.
        TStringList sorted;
        sorted.SetSorted(true);
        sorted.SetDuplicates(dupAccept);
        sorted.SetText(c.text);
        V expected = c.lines;
        std::sort(expected.begin(), expected.end(),
                  [](const String& a, const String& b) { return AnsiCompareText(a, b) < 0; });
        EXPECT_EQ(sorted.ToVector(), expected) << testing::PrintToString(c.text);
    }
}

TEST(StringListText, LongLinesAndOldContent) {
    TStringList list;
    TObject marker;
    list.AddObject("old", &marker);
    const std::string line(100000, 'x');
    list.SetText(line + "\r\n" + line + "\n" + line);
    ASSERT_EQ(list.Count(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(list[i], line);
        EXPECT_EQ(list.Objects(i), nullptr);
    }
}

// A large text is split on two threads, at a line start past its middle:
// whatever bytes surround that point, the lines are those of a split by Add.
TEST(StringListText, LargeTextsSplitAsSmallOnesDo) {
    const std::size_t size = (std::size_t{17} << 20) + 123;
    std::string lines(size, 'k');
    for (std::size_t i = 999; i < size; i += 1000)
        lines[i] = '\n';
    const std::size_t mid = size / 2;
    struct Case {
        const char* what;
        std::string text;
    };
    auto around = [&](std::string_view bytes, std::size_t at) {
        std::string t = lines;
        t.replace(at, bytes.size(), bytes);
        return t;
    };
    const Case cases[] = {
        {"breaks of every kind at the middle", around("a\r\n\rb\n\r\n\n\rc", mid - 4)},
        {"LF CR right after the middle", around("\n\r", mid)},
        {"a NUL past the middle", around(std::string_view("x\0y\n", 4), mid + 10)},
        {"a NUL before the middle", around(std::string_view("\0", 1), mid - 10)},
        {"only CRs past the middle",
         [&] {
             std::string t = lines;
             std::replace(t.begin() + static_cast<std::ptrdiff_t>(mid), t.end(), '\n', '\r');
             return t;
         }()},
        {"one LF, the last byte, past the middle",
         [&] {
             std::string t(size, 'k');
             t[100] = '\n';
             t.back() = '\n';
             return t;
         }()},
    };
    for (const Case& c : cases) {
        TStringList bySplit;
        TObject marker;
        bySplit.AddObject("old", &marker);
        bySplit.SetText(c.text);
        TStringList byAdd;
        byAdd.TStrings::SetText(c.text);
        ASSERT_EQ(bySplit.Count(), byAdd.Count()) << c.what;
        EXPECT_TRUE(bySplit.ToVector() == byAdd.ToVector()) << c.what;
        EXPECT_EQ(bySplit.Objects(0), nullptr) << c.what;
    }
}

TEST(StringListText, JoinsWithCrLf) {
    TStringList list{"a", "", "b"};
    EXPECT_EQ(list.Text(), "a\r\n\r\nb\r\n");
    list.Clear();
    EXPECT_EQ(list.Text(), "");
}

TEST(StringListIndex, OutOfBoundsRaisesTheIndexError) {
    TStringList list{"a", "b"};
    EXPECT_EQ(list[1], "b");
    for (int bad : {-2, -1, 2, 100}) {
        try {
            (void)list[bad];
            FAIL() << bad;
        } catch (const EStringListError& e) {
            EXPECT_EQ(e.Message(), "List index out of bounds (" + IntToStr(bad) + ")");
        }
    }
    EXPECT_THROW(list.Delete(2), EStringListError);
    EXPECT_THROW(list.Insert(3, "x"), EStringListError);
    EXPECT_THROW(list.Objects(2), EStringListError);
    list.Insert(2, "c");  // inserting at Count appends
    EXPECT_EQ(list.Count(), 3);
}

TEST(StringList, ObjectsTravelWithTheirLines) {
    TObject a, b;
    TStringList list;
    list.AddObject("one", &a);
    list.Add("two");
    list.InsertObject(0, "zero", &b);
    EXPECT_EQ(list.Objects(0), &b);
    EXPECT_EQ(list.Objects(1), &a);
    EXPECT_EQ(list.Objects(2), nullptr);
    list.Exchange(0, 2);
    EXPECT_EQ(list[0], "two");
    EXPECT_EQ(list.Objects(2), &b);
    list.SetStrings(1, "uno");
    EXPECT_EQ(list.Objects(1), &a);
    EXPECT_EQ(list.IndexOfObject(&b), 2);
    TStringList copy;
    copy.Assign(&list);
    EXPECT_EQ(copy.Objects(1), &a);
    EXPECT_TRUE(copy.Equals(list));
}

TEST(StringList, IndexOfIgnoresCaseWithCyrillic) {
    TStringList list{"Доллар США"_cp, "ЕВРО"_cp};
    EXPECT_EQ(list.IndexOf("евро"_cp), 1);
    EXPECT_EQ(list.IndexOf("доллар сша"_cp), 0);
    EXPECT_EQ(list.IndexOf("Евр"_cp), -1);
}

TEST(StringList, SortedFindsIgnoringCase) {
    TStringList list;
    list.SetSorted(true);
    for (const String& s : {String("pear"), String("Apple"), String("банан"_cp), String("apple")})
        list.Add(s);
    // dupIgnore: "apple" equals "Apple" ignoring case.
    EXPECT_EQ(list.ToVector(), (std::vector<String>{"Apple", "pear", "банан"_cp}));
    int at = -1;
    EXPECT_TRUE(list.Find("БАНАН"_cp, at));
    EXPECT_EQ(at, 2);
    EXPECT_FALSE(list.Find("cherry", at));
    EXPECT_EQ(at, 1);  // where it would go
    EXPECT_EQ(list.IndexOf("PEAR"), 1);
    EXPECT_THROW(list.Insert(0, "x"), EStringListError);

    list.SetDuplicates(dupError);
    try {
        list.Add("APPLE");
        FAIL();
    } catch (const EStringListError& e) {
        EXPECT_EQ(e.Message(), "String list does not allow duplicates");
    }
    list.SetDuplicates(dupAccept);
    list.Add("APPLE");
    EXPECT_EQ(list.Count(), 4);
}

TEST(StringList, SortingAnUnsortedListOrdersCyrillicByAlphabet) {
    TStringList list{"ж"_cp, "Ё"_cp, "е"_cp, "Б"_cp, "a"};
    list.SetSorted(true);
    EXPECT_EQ(list.ToVector(), (std::vector<String>{"a", "Б"_cp, "е"_cp, "Ё"_cp, "ж"_cp}));
}

TEST(StringList, NamesAndValues) {
    TStringList list{"Host=example", "port=80", "novalue", "Empty="};
    EXPECT_EQ(list.Values("PORT"), "80");
    EXPECT_EQ(list.Values("novalue"), "");
    EXPECT_EQ(list.Names(0), "Host");
    EXPECT_EQ(list.IndexOfName("empty"), 3);
    list.SetValue("Port", "8080");
    EXPECT_EQ(list[1], "Port=8080");
    list.SetValue("New", "1");
    EXPECT_EQ(list[4], "New=1");
    list.SetValue("host", "");
    EXPECT_EQ(list.IndexOfName("Host"), -1);
    EXPECT_EQ(list.Count(), 4);
}

TEST(StringList, CommaTextRoundTrips) {
    TStringList list{"a", "b c", "", "q\"uote", "x,y"};
    const String text = list.CommaText();
    EXPECT_EQ(text, "a,\"b c\",\"\",\"q\"\"uote\",\"x,y\"");
    TStringList back;
    back.SetCommaText(text);
    EXPECT_TRUE(back.Equals(list));
}

TEST(StringList, ChangeEventsAreHeldDuringUpdates) {
    TStringList list;
    int changes = 0;
    list.OnChange = [&](TObject* sender) {
        EXPECT_EQ(sender, &list);
        ++changes;
    };
    list.Add("a");
    EXPECT_EQ(changes, 1);
    list.SetText("x\r\ny\r\nz");
    EXPECT_EQ(changes, 2);  // one for the whole text
    list.BeginUpdate();
    list.Add("1");
    list.Delete(0);
    EXPECT_EQ(changes, 2);
    list.EndUpdate();
    EXPECT_EQ(changes, 3);
}

TEST(StringList, AddStringsFromItself) {
    TStringList list{"a", "b"};
    list.AddStrings(list);
    EXPECT_EQ(list.ToVector(), (std::vector<String>{"a", "b", "a", "b"}));
}

// A sorted list that refuses duplicates, so a step of a bulk change can fail.
struct TRefusingList : TStringList {
    TRefusingList() {
        SetSorted(true);
        SetDuplicates(dupError);
    }
};

TEST(StringList, ABulkChangeThatFailsEndsItsUpdateAndPassesTheErrorOn) {
    TStringList twice{"a", "a"};
    const std::function<void(TStringList&)> steps[] = {
        [&](TStringList& l) { l.AddStrings(twice); },
        [&](TStringList& l) { l.Assign(&twice); },
        [](TStringList& l) { l.SetText("b\r\nb"); },
        [](TStringList& l) { l.SetCommaText("c,c"); },
    };
    for (const auto& step : steps) {
        TRefusingList list;
        int changes = 0;
        list.OnChange = [&](TObject*) { ++changes; };
        EXPECT_THROW(step(list), EStringListError);
        EXPECT_EQ(list.UpdateCount(), 0);
        EXPECT_EQ(changes, 1);
        list.Add("z");
        EXPECT_EQ(changes, 2);  // the list is not left held
    }
}

TEST(StringList, AChangeHandlerThatRaisesAfterABulkChangeReachesTheCaller) {
    TStringList list;
    list.OnChange = [](TObject*) { throw Exception("handler failed"); };
    TStringList source{"a", "b"};
    EXPECT_THROW(list.AddStrings(source), Exception);
    EXPECT_EQ(list.UpdateCount(), 0);
    EXPECT_EQ(list.Count(), 2);
}

TEST(StringList, WhenBothAStepAndTheChangeHandlerRaiseTheStepsErrorWinsAndTheOtherIsReported) {
    std::vector<String> reports;
    SetApplicationExceptionHandler([&](std::exception_ptr e) {
        try {
            std::rethrow_exception(e);
        } catch (const Exception& ex) {
            reports.push_back(ex.Message());
        }
    });
    TRefusingList list;
    list.OnChange = [](TObject*) { throw Exception("handler failed"); };
    EXPECT_THROW(list.SetCommaText("c,c"), EStringListError);
    EXPECT_EQ(list.UpdateCount(), 0);
    EXPECT_EQ(reports, std::vector<String>{"handler failed"});
    SetApplicationExceptionHandler(nullptr);
}

}  // namespace
