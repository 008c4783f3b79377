#include "runtime/StringList.h"

#include <algorithm>
#include <exception>
#include <iterator>
#include <system_error>
#include <thread>

#include "runtime/ExceptionHook.h"
#include "runtime/ScopeGuard.h"
#include "runtime/Streams.h"

namespace {

// A step that throws inside an update ends the update through a ScopeFail
// guard; the normal way out ends it in the open, so that an change notice raising
// there reaches the caller.  The guard's notice runs while the step's
// exception is on its way out: what it raises is reported, and the step's
// exception goes on to the caller.
void EndUpdateAfterFailure(TStrings& list) {
    CallGuarded([&list] { list.EndUpdate(); });
}

}  // namespace

// --- TStrings --------------------------------------------------------------------

void TStrings::Error(std::string_view fmt, int index) const {
    throw EStringListError(Format(fmt, index));
}

int TStrings::Add(const String& s) {
    const int at = Count();
    Insert(at, s);
    return at;
}

int TStrings::AddObject(const String& s, TObject* obj) {
    const int at = Add(s);
    PutObject(at, obj);
    return at;
}

void TStrings::AddStrings(const TStrings& other) {
    BeginUpdate();
    {
        ScopeFail endUpdate([this] { EndUpdateAfterFailure(*this); });
        // A copy first: other may be this list.
        const int n = other.Count();
        std::vector<std::pair<String, TObject*>> lines;
        lines.reserve(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i)
            lines.emplace_back(other.Get(i), other.GetObject(i));
        for (auto& [text, obj] : lines)
            AddObject(text, obj);
    }
    EndUpdate();
}

void TStrings::InsertObject(int index, const String& s, TObject* obj) {
    Insert(index, s);
    PutObject(index, obj);
}

void TStrings::Put(int index, const String& s) {
    TObject* obj = GetObject(index);
    Delete(index);
    InsertObject(index, s, obj);
}

TObject* TStrings::GetObject(int) const {
    return nullptr;
}
void TStrings::PutObject(int, TObject*) {}

void TStrings::Exchange(int index1, int index2) {
    const String s1 = Get(index1), s2 = Get(index2);
    TObject* o1 = GetObject(index1);
    TObject* o2 = GetObject(index2);
    Put(index1, s2);
    PutObject(index1, o2);
    Put(index2, s1);
    PutObject(index2, o1);
}

void TStrings::Move(int curIndex, int newIndex) {
    if (curIndex == newIndex)
        return;
    const String s = Get(curIndex);
    TObject* obj = GetObject(curIndex);
    if (newIndex < 0 || newIndex >= Count())
        Error("List index out of bounds (%d)", newIndex);
    Delete(curIndex);
    InsertObject(newIndex, s, obj);
}

int TStrings::IndexOf(std::string_view s) const {
    for (int i = 0; i < Count(); ++i)
        if (AnsiSameText(Get(i), s))
            return i;
    return -1;
}

int TStrings::IndexOfObject(const TObject* obj) const {
    for (int i = 0; i < Count(); ++i)
        if (GetObject(i) == obj)
            return i;
    return -1;
}

int TStrings::IndexOfName(std::string_view name) const {
    for (int i = 0; i < Count(); ++i) {
        const String line = Get(i);
        const auto eq = line.find('=');
        if (eq != String::npos && AnsiSameText(std::string_view(line).substr(0, eq), name))
            return i;
    }
    return -1;
}

String TStrings::Names(int index) const {
    const String line = Get(index);
    const auto eq = line.find('=');
    return eq == String::npos ? String() : line.substr(0, eq);
}

String TStrings::ValueFromIndex(int index) const {
    const String line = Get(index);
    const auto eq = line.find('=');
    return eq == String::npos ? String() : line.substr(eq + 1);
}

String TStrings::Values(std::string_view name) const {
    const int i = IndexOfName(name);
    return i < 0 ? String() : ValueFromIndex(i);
}

void TStrings::SetValue(std::string_view name, std::string_view value) {
    int i = IndexOfName(name);
    if (!value.empty()) {
        if (i < 0)
            i = Add(String());
        Put(i, String(name) + "=" + String(value));
    } else if (i >= 0) {
        Delete(i);
    }
}

String TStrings::Text() const {
    String r;
    for (int i = 0; i < Count(); ++i) {
        r += Get(i);
        r += "\r\n";
    }
    return r;
}

namespace {

// Calls line(text) for each line of the text up to its first NUL.  The line
// ends are found with memchr-class searches; the next CR and the next LF are
// each looked for again only once the split has passed them, so a text
// without one of them is still read once.
template <class Line>
void SplitLines(std::string_view text, Line&& line) {
    if (const auto nul = text.find('\0'); nul != std::string_view::npos)
        text = text.substr(0, nul);
    const std::size_t size = text.size();
    auto next = [&](char c, std::size_t from) {
        const std::size_t at = text.find(c, from);
        return at == std::string_view::npos ? size : at;
    };
    std::size_t cr = next('\r', 0);
    std::size_t lf = next('\n', 0);
    std::size_t i = 0;
    while (i < size) {
        if (cr < i)
            cr = next('\r', i);
        if (lf < i)
            lf = next('\n', i);
        const std::size_t end = std::min(cr, lf);
        line(text.substr(i, end - i));
        i = end;
        // CR, LF and CR LF end a line; LF CR is two breaks.
        if (i < size && text[i] == '\r')
            ++i;
        if (i < size && text[i] == '\n')
            ++i;
    }
}

}  // namespace

void TStrings::SetText(std::string_view text) {
    BeginUpdate();
    {
        ScopeFail endUpdate([this] { EndUpdateAfterFailure(*this); });
        Clear();
        SplitLines(text, [this](std::string_view line) { Add(String(line)); });
    }
    EndUpdate();
}

String TStrings::CommaText() const {
    String r;
    for (int i = 0; i < Count(); ++i) {
        const String s = Get(i);
        bool quote = s.empty();
        for (char c : s)
            if (static_cast<unsigned char>(c) <= 32 || c == ',' || c == '"')
                quote = true;
        if (i > 0)
            r += ',';
        if (quote) {
            r += '"';
            for (char c : s) {
                r += c;
                if (c == '"')
                    r += '"';
            }
            r += '"';
        } else {
            r += s;
        }
    }
    return r;
}

void TStrings::SetCommaText(std::string_view text) {
    BeginUpdate();
    {
        ScopeFail endUpdate([this] { EndUpdateAfterFailure(*this); });
        Clear();
        std::size_t i = 0;
        auto skipBlanks = [&] {
            while (i < text.size() && static_cast<unsigned char>(text[i]) <= 32)
                ++i;
        };
        skipBlanks();
        while (i < text.size()) {
            String item;
            if (text[i] == '"') {
                ++i;
                while (i < text.size()) {
                    if (text[i] == '"') {
                        if (i + 1 < text.size() && text[i + 1] == '"') {
                            item += '"';
                            i += 2;
                            continue;
                        }
                        ++i;
                        break;
                    }
                    item += text[i++];
                }
            } else {
                while (i < text.size() && static_cast<unsigned char>(text[i]) > 32 &&
                       text[i] != ',')
                    item += text[i++];
            }
            Add(item);
            skipBlanks();
            if (i < text.size() && text[i] == ',') {
                ++i;
                skipBlanks();
                if (i >= text.size())
                    Add(String());
            }
        }
    }
    EndUpdate();
}

void TStrings::BeginUpdate() {
    if (FUpdateCount++ == 0)
        SetUpdateState(true);
}

void TStrings::EndUpdate() {
    if (FUpdateCount > 0 && --FUpdateCount == 0)
        SetUpdateState(false);
}

void TStrings::SetUpdateState(bool) {}

void TStrings::Assign(TPersistent* source) {
    if (auto* other = dynamic_cast<TStrings*>(source)) {
        if (other == this)
            return;
        BeginUpdate();
        {
            ScopeFail endUpdate([this] { EndUpdateAfterFailure(*this); });
            Clear();
            AddStrings(*other);
        }
        EndUpdate();
        return;
    }
    TPersistent::Assign(source);
}

bool TStrings::Equals(const TStrings& other) const {
    if (Count() != other.Count())
        return false;
    for (int i = 0; i < Count(); ++i)
        if (Get(i) != other.Get(i))
            return false;
    return true;
}

void TStrings::LoadFromStream(TStream& stream) {
    const long long size = stream.Size() - stream.Position();
    String data(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
    if (!data.empty())
        stream.ReadBuffer(data.data(), static_cast<long long>(data.size()));
    SetText(data);
}

void TStrings::SaveToStream(TStream& stream) const {
    const String data = Text();
    stream.WriteBuffer(data.data(), static_cast<long long>(data.size()));
}

void TStrings::LoadFromFile(const String& fileName) {
    TFileStream f(fileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(f);
}

void TStrings::SaveToFile(const String& fileName) const {
    TFileStream f(fileName, fmCreate);
    SaveToStream(f);
}

std::vector<String> TStrings::ToVector() const {
    std::vector<String> v;
    v.reserve(static_cast<std::size_t>(Count()));
    for (int i = 0; i < Count(); ++i)
        v.push_back(Get(i));
    return v;
}

// --- TStringList ---------------------------------------------------------------------

TStringList::TStringList(std::initializer_list<String> lines) {
    for (const String& s : lines)
        Add(s);
}

void TStringList::CheckIndex(int index) const {
    if (index < 0 || index >= Count())
        Error("List index out of bounds (%d)", index);
}

String TStringList::Get(int index) const {
    CheckIndex(index);
    return FItems[static_cast<std::size_t>(index)].text;
}

void TStringList::Put(int index, const String& s) {
    if (FSorted)
        Error("Operation not allowed on sorted list", 0);
    CheckIndex(index);
    Changing();
    FItems[static_cast<std::size_t>(index)].text = s;
    Changed();
}

TObject* TStringList::GetObject(int index) const {
    CheckIndex(index);
    return FItems[static_cast<std::size_t>(index)].object;
}

void TStringList::PutObject(int index, TObject* obj) {
    CheckIndex(index);
    Changing();
    FItems[static_cast<std::size_t>(index)].object = obj;
    Changed();
}

int TStringList::Add(const String& s) {
    return AddObject(s, nullptr);
}

int TStringList::AddObject(const String& s, TObject* obj) {
    int at = Count();
    if (FSorted) {
        if (Find(s, at)) {
            if (FDuplicates == dupIgnore)
                return at;
            if (FDuplicates == dupError)
                Error("String list does not allow duplicates", 0);
        }
    }
    InsertItem(at, s, obj);
    return at;
}

void TStringList::Insert(int index, const String& s) {
    InsertObject(index, s, nullptr);
}

void TStringList::InsertObject(int index, const String& s, TObject* obj) {
    if (FSorted)
        Error("Operation not allowed on sorted list", 0);
    if (index < 0 || index > Count())
        Error("List index out of bounds (%d)", index);
    InsertItem(index, s, obj);
}

void TStringList::InsertItem(int index, const String& s, TObject* obj) {
    Changing();
    FItems.insert(FItems.begin() + index, Item{s, obj});
    Changed();
}

void TStringList::Delete(int index) {
    CheckIndex(index);
    Changing();
    FItems.erase(FItems.begin() + index);
    Changed();
}

void TStringList::Clear() {
    if (FItems.empty())
        return;
    Changing();
    FItems.clear();
    Changed();
}

void TStringList::SetText(std::string_view text) {
    // A sorted list places each line as Add does.
    if (FSorted) {
        TStrings::SetText(text);
        return;
    }
    // Otherwise each line is copied once, straight into its place at the end.
    BeginUpdate();
    {
        ScopeFail endUpdate([this] { EndUpdateAfterFailure(*this); });
        Clear();
        Changing();
        AppendLines(text);
        Changed();
    }
    EndUpdate();
}

namespace {

// A text at least this large is split into lines on two threads.  Its lines
// need as much new memory as the text, and the system's first touch of new
// memory, not the copying, is most of the time then; two threads touch it
// side by side.
constexpr std::size_t kTwoThreadSplitBytes = std::size_t{16} << 20;

// Where the second part of a large text starts: just past the first LF at or
// after its middle, which always begins a line; 0 when there is no such line.
std::size_t SecondPartStart(std::string_view text) {
    if (text.size() < kTwoThreadSplitBytes)
        return 0;
    const std::size_t lf = text.find('\n', text.size() / 2);
    return lf == std::string_view::npos || lf + 1 >= text.size() ? 0 : lf + 1;
}

}  // namespace

void TStringList::AppendLines(std::string_view text) {
    // A NUL ends the text, as everywhere else lines are split.
    text = text.substr(0, text.find('\0'));
    auto into = [](std::vector<Item>& items) {
        return [&items](std::string_view line) { items.push_back(Item{String(line)}); };
    };
    const std::size_t second = SecondPartStart(text);
    if (second == 0) {
        SplitLines(text, into(FItems));
        return;
    }
    std::vector<Item> secondItems;
    std::exception_ptr secondFailure;
    std::thread helper;
    try {
        helper = std::thread([&] {
            try {
                SplitLines(text.substr(second), into(secondItems));
            } catch (...) {
                secondFailure = std::current_exception();
            }
        });
    } catch (const std::system_error&) {
        SplitLines(text, into(FItems));  // no thread to be had: one does it all
        return;
    }
    {
        ScopeExit join([&helper] { helper.join(); });
        SplitLines(text.substr(0, second), into(FItems));
    }
    if (secondFailure)
        std::rethrow_exception(secondFailure);
    FItems.insert(FItems.end(), std::make_move_iterator(secondItems.begin()),
                  std::make_move_iterator(secondItems.end()));
}

void TStringList::Exchange(int index1, int index2) {
    CheckIndex(index1);
    CheckIndex(index2);
    Changing();
    std::swap(FItems[static_cast<std::size_t>(index1)], FItems[static_cast<std::size_t>(index2)]);
    Changed();
}

int TStringList::CompareStrings(std::string_view a, std::string_view b) const {
    return FCaseSensitive ? AnsiCompareStr(a, b) : AnsiCompareText(a, b);
}

int TStringList::IndexOf(std::string_view s) const {
    if (!FSorted) {
        for (int i = 0; i < Count(); ++i)
            if (CompareStrings(FItems[static_cast<std::size_t>(i)].text, s) == 0)
                return i;
        return -1;
    }
    int at = 0;
    return Find(s, at) ? at : -1;
}

bool TStringList::Find(std::string_view s, int& index) const {
    int lo = 0, hi = Count() - 1;
    bool found = false;
    while (lo <= hi) {
        const int mid = lo + (hi - lo) / 2;
        const int c = CompareStrings(FItems[static_cast<std::size_t>(mid)].text, s);
        if (c < 0) {
            lo = mid + 1;
        } else {
            hi = mid - 1;
            if (c == 0) {
                found = true;
                // The first of equal lines, unless duplicates are accepted.
                if (FDuplicates != dupAccept)
                    lo = mid;
            }
        }
    }
    index = lo;
    return found;
}

void TStringList::SetSorted(bool value) {
    if (FSorted == value)
        return;
    if (value)
        Sort();
    FSorted = value;
}

void TStringList::SetCaseSensitive(bool value) {
    if (FCaseSensitive == value)
        return;
    FCaseSensitive = value;
    if (FSorted)
        Sort();
}

void TStringList::Sort() {
    CustomSort([](TStringList* list, int a, int b) {
        return list->CompareStrings(list->FItems[static_cast<std::size_t>(a)].text,
                                    list->FItems[static_cast<std::size_t>(b)].text);
    });
}

void TStringList::CustomSort(const TStringListSortCompare& compare) {
    if (Count() < 2)
        return;
    Changing();
    // Sort indices with the caller's comparison, then apply the permutation.
    std::vector<int> order(FItems.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = static_cast<int>(i);
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return compare(this, a, b) < 0; });
    std::vector<Item> sorted;
    sorted.reserve(FItems.size());
    for (int i : order)
        sorted.push_back(std::move(FItems[static_cast<std::size_t>(i)]));
    FItems = std::move(sorted);
    Changed();
}

void TStringList::SetUpdateState(bool updating) {
    if (updating)
        Changing();
    else
        Changed();
}

void TStringList::Changing() {
    if (UpdateCount() == 0 && OnChanging)
        OnChanging(this);
}

void TStringList::Changed() {
    if (UpdateCount() == 0 && OnChange)
        OnChange(this);
}
