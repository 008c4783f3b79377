#include "settings/StoredValues.h"

#include <cstdint>

#include "settings/Placemnt.h"

// ---- TStoredValue ---------------------------------------------------------------------------

TStoredValue::TStoredValue(TCollection* Collection) : TCollectionItem(Collection) {
    RegisterSettingsClasses();
}

void TStoredValue::SetName(const String& Value) {
    if (!Value.empty() && !AnsiSameText(Value, FName)) {
        if (auto* values = dynamic_cast<TStoredValues*>(Collection())) {
            if (values->IndexOf(Value) >= 0)
                throw Exception(String("String list does not allow duplicates"));
        }
    }
    FName = Value;
    Changed(false);
}

String TStoredValue::DisplayName() const {
    return FName.empty() ? TCollectionItem::DisplayName() : FName;
}

void TStoredValue::Assign(TPersistent* Source) {
    if (auto* other = dynamic_cast<TStoredValue*>(Source)) {
        if (other == this)
            return;
        if (other->FValue.IsEmpty())
            FValue.Clear();
        else
            FValue = other->FValue;
        SetName(other->FName);
        FKeyString = other->FKeyString;
        return;
    }
    TCollectionItem::Assign(Source);
}

TFormStorage* TStoredValue::Storage() const {
    auto* values = dynamic_cast<TStoredValues*>(Collection());
    return values ? values->Storage() : nullptr;
}

void TStoredValue::WriteValue() {
    Variant value = FValue;
    if (OnSave)
        OnSave(this, value);
    String text = VarToStr(value);
    if (!FKeyString.empty())
        text = ScrambleText(text, FKeyString);
    if (TFormStorage* storage = Storage())
        storage->WriteString(FName, text);
}

void TStoredValue::ReadValue() {
    TFormStorage* storage = Storage();
    if (!storage)
        return;
    String def = VarToStr(FValue);
    if (!FKeyString.empty())
        def = ScrambleText(def, FKeyString);
    String text = storage->ReadString(FName, def);
    if (!FKeyString.empty())
        text = UnscrambleText(text, FKeyString);
    Variant value(text);
    if (OnRestore)
        OnRestore(this, value);
    FValue = value;
}

// ---- TStoredValues --------------------------------------------------------------------------

TStoredValues::TStoredValues(TPersistent* AOwner)
    : TOwnedCollection(AOwner, TCollection::ItemFactoryOf<TStoredValue>()) {
    FStorage = dynamic_cast<TFormStorage*>(AOwner);
}

TStoredValue* TStoredValues::Items(int Index) const {
    return static_cast<TStoredValue*>(TCollection::Items(Index));
}

int TStoredValues::IndexOf(const String& Name) const {
    for (int i = 0; i < Count(); ++i) {
        if (AnsiSameText(Items(i)->Name(), Name))
            return i;
    }
    return -1;
}

Variant TStoredValues::StoredValue(const String& Name) const {
    const int i = IndexOf(Name);
    return i >= 0 ? Items(i)->Value() : Variant();
}

void TStoredValues::SetStoredValue(const String& Name, const Variant& Value) {
    const int i = IndexOf(Name);
    TStoredValue* item = i >= 0 ? Items(i) : nullptr;
    if (!item) {
        item = Add();
        item->SetName(Name);
    }
    item->SetValue(Value);
}

void TStoredValues::WriteAll() {
    for (int i = 0; i < Count(); ++i)
        Items(i)->WriteValue();
}

void TStoredValues::ReadAll() {
    for (int i = 0; i < Count(); ++i)
        Items(i)->ReadValue();
}

// ---- scrambling -----------------------------------------------------------------------------

namespace {

// A keystream from the key: FNV-1a of the key seeds xorshift64*.
class TKeyStream {
  public:
    explicit TKeyStream(const String& key) {
        std::uint64_t h = 1469598103934665603ULL;
        for (unsigned char c : key) {
            h ^= c;
            h *= 1099511628211ULL;
        }
        FState = h ? h : 0x9E3779B97F4A7C15ULL;
    }
    unsigned char Next() {
        FState ^= FState >> 12;
        FState ^= FState << 25;
        FState ^= FState >> 27;
        return static_cast<unsigned char>((FState * 2685821657736338717ULL) >> 56);
    }

  private:
    std::uint64_t FState;
};

const char kHexDigits[] = "0123456789ABCDEF";

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

}  // namespace

String ScrambleText(const String& Text, const String& Key) {
    if (Key.empty())
        return Text;
    TKeyStream stream(Key);
    String out;
    out.reserve(Text.size() * 2);
    unsigned char previous = 0;
    for (unsigned char c : Text) {
        // Each byte also depends on the one before, so repeated characters
        // do not show through.
        const unsigned char s = static_cast<unsigned char>(c ^ stream.Next() ^ previous);
        previous = s;
        out += kHexDigits[s >> 4];
        out += kHexDigits[s & 0x0F];
    }
    return out;
}

String UnscrambleText(const String& Text, const String& Key) {
    if (Key.empty() || Text.size() % 2 != 0)
        return Text;
    String out;
    out.reserve(Text.size() / 2);
    for (std::size_t i = 0; i < Text.size(); i += 2) {
        const int high = HexValue(Text[i]);
        const int low = HexValue(Text[i + 1]);
        if (high < 0 || low < 0)
            return Text;
        out += static_cast<char>((high << 4) | low);
    }
    TKeyStream stream(Key);
    unsigned char previous = 0;
    for (char& ch : out) {
        const unsigned char s = static_cast<unsigned char>(ch);
        ch = static_cast<char>(s ^ stream.Next() ^ previous);
        previous = s;
    }
    return out;
}
