#pragma once
// Lists of text lines, each line optionally carrying an object pointer (not
// owned).  Setting the whole text splits it at CR, LF or CR LF (LF CR gives
// two breaks) and stops at the first NUL; reading it joins the lines, each
// followed by CR LF.

#include <functional>
#include <vector>

#include "runtime/Classes.h"
#include "runtime/String.h"

class TStream;

enum TDuplicates { dupIgnore, dupAccept, dupError };

class TStrings : public TPersistent {
  public:
    String ClassName() const override { return "TStrings"; }

    virtual int Count() const = 0;
    // Index outside 0..Count()-1: EStringListError "List index out of bounds (%d)".
    String Strings(int index) const { return Get(index); }
    String operator[](int index) const { return Get(index); }
    void SetStrings(int index, const String& s) { Put(index, s); }
    TObject* Objects(int index) const { return GetObject(index); }
    void SetObject(int index, TObject* obj) { PutObject(index, obj); }

    virtual int Add(const String& s);
    virtual int AddObject(const String& s, TObject* obj);
    void Append(const String& s) { Add(s); }
    virtual void AddStrings(const TStrings& other);
    virtual void Insert(int index, const String& s) = 0;
    virtual void InsertObject(int index, const String& s, TObject* obj);
    virtual void Delete(int index) = 0;
    virtual void Clear() = 0;
    virtual void Exchange(int index1, int index2);
    virtual void Move(int curIndex, int newIndex);

    // First index of s (case ignored, cp1251 aware), or -1.
    virtual int IndexOf(std::string_view s) const;
    int IndexOfObject(const TObject* obj) const;
    // Lines of the form "name=value": the first whose name matches (case ignored).
    int IndexOfName(std::string_view name) const;
    String Names(int index) const;
    String ValueFromIndex(int index) const;
    String Values(std::string_view name) const;
    // Replaces the value, adds "name=value" when absent, deletes the line for
    // an empty value.
    void SetValue(std::string_view name, std::string_view value);

    virtual String Text() const;
    virtual void SetText(std::string_view text);
    // Comma-separated, items with blanks, commas or quotes in double quotes.
    String CommaText() const;
    void SetCommaText(std::string_view text);

    void BeginUpdate();
    void EndUpdate();
    int UpdateCount() const { return FUpdateCount; }

    void Assign(TPersistent* source) override;
    bool Equals(const TStrings& other) const;

    void LoadFromStream(TStream& stream);
    void SaveToStream(TStream& stream) const;
    void LoadFromFile(const String& fileName);
    void SaveToFile(const String& fileName) const;

    std::vector<String> ToVector() const;

  protected:
    virtual String Get(int index) const = 0;
    virtual void Put(int index, const String& s);
    virtual TObject* GetObject(int index) const;
    virtual void PutObject(int index, TObject* obj);
    virtual void SetUpdateState(bool updating);
    [[noreturn]] void Error(std::string_view fmt, int index) const;

  private:
    int FUpdateCount = 0;
};

class TStringList : public TStrings {
  public:
    TStringList() = default;
    TStringList(std::initializer_list<String> lines);
    String ClassName() const override { return "TStringList"; }

    int Count() const override { return static_cast<int>(FItems.size()); }
    int Add(const String& s) override;
    int AddObject(const String& s, TObject* obj) override;
    void Insert(int index, const String& s) override;
    void InsertObject(int index, const String& s, TObject* obj) override;
    void Delete(int index) override;
    void Clear() override;
    // A list that is not sorted takes the lines straight into its items,
    // not through Add (a class that overrides Add must override this too).
    void SetText(std::string_view text) override;
    void Exchange(int index1, int index2) override;
    int IndexOf(std::string_view s) const override;

    // A sorted list keeps its lines in AnsiCompareText order (CaseSensitive:
    // AnsiCompareStr); Add puts a line where it belongs, Insert raises
    // EStringListError "Operation not allowed on sorted list".
    bool Sorted() const { return FSorted; }
    void SetSorted(bool value);
    TDuplicates Duplicates() const { return FDuplicates; }
    void SetDuplicates(TDuplicates value) { FDuplicates = value; }
    bool CaseSensitive() const { return FCaseSensitive; }
    void SetCaseSensitive(bool value);
    // Binary search of a sorted list: true when found; index is the match or
    // the place where s would go.
    bool Find(std::string_view s, int& index) const;
    virtual void Sort();
    using TStringListSortCompare = std::function<int(TStringList* list, int index1, int index2)>;
    void CustomSort(const TStringListSortCompare& compare);

    TNotifyEvent OnChange;
    TNotifyEvent OnChanging;

  protected:
    String Get(int index) const override;
    void Put(int index, const String& s) override;
    TObject* GetObject(int index) const override;
    void PutObject(int index, TObject* obj) override;
    void SetUpdateState(bool updating) override;
    virtual void Changed();
    virtual void Changing();
    int CompareStrings(std::string_view a, std::string_view b) const;

  private:
    struct Item {
        String text;
        TObject* object = nullptr;
    };
    void CheckIndex(int index) const;
    void InsertItem(int index, const String& s, TObject* obj);
    // Adds the lines of text at the end, without notices.
    void AppendLines(std::string_view text);

    std::vector<Item> FItems;
    bool FSorted = false;
    bool FCaseSensitive = false;
    TDuplicates FDuplicates = dupIgnore;
};
