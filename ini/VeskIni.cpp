// The portable core of the wide INI library: no Windows header here, so that it also builds
// natively with the sanitizers and the fuzzer.
#include "VeskIni.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <unordered_map>
#include <utility>

#include "VeskError.h"

namespace {

constexpr char16_t UnitCR = u'\r';
constexpr char16_t UnitLF = u'\n';

bool IsTrimmed(char16_t Unit) {
    return Unit <= 0x20;
}

// Takes U+0000 to U+0020 off both ends, nothing else.
std::u16string_view Trim(std::u16string_view Text) {
    size_t First = 0;
    size_t Last = Text.size();
    while (First < Last && IsTrimmed(Text[First])) {
        ++First;
    }
    while (Last > First && IsTrimmed(Text[Last - 1])) {
        --Last;
    }
    return Text.substr(First, Last - First);
}

TVeskWideString Decimal(int32_t Value) {
    std::string Digits = std::to_string(Value);
    return TVeskWideString(Digits.begin(), Digits.end());
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Wide string list

TVeskWideStringListItem::TVeskWideStringListItem(TVeskWideStringList* Owner, TVeskWideString Text,
                                                 int32_t Data) {
    SetOwner(Owner);
    FText = std::move(Text);
    FData = Data;
}

TVeskWideStringListItem::~TVeskWideStringListItem() {
    SetOwner(nullptr);
}

void TVeskWideStringListItem::SetOwner(TVeskWideStringList* NewOwner) {
    VeskMoveOwned<TVeskWideStringListItem, TVeskWideStringList>(
        this, FOwner, NewOwner, [](TVeskWideStringList & List) -> auto& { return List.FItemList; });
}

TVeskWideStringList::~TVeskWideStringList() {
    Clear();
}

int32_t TVeskWideStringList::Add(TVeskWideString Text, int32_t Data) {
    const int32_t Index = Count();
    new TVeskWideStringListItem(this, std::move(Text), Data);
    return Index;
}

void TVeskWideStringList::Clear() {
    VeskFreeOwned(FItemList);
}

TVeskWideStringListItem* TVeskWideStringList::Items(int32_t Index) const {
    if (Index < 0 || Index >= Count()) {
        VeskListIndexError(Index);
    }
    return FItemList->At(Index);
}

TVeskWideString TVeskWideStringList::Strings(int32_t Index) const {
    return Items(Index)->Text();
}

void TVeskWideStringList::LoadFromStream(TVeskStream& Stream) {
    Clear();
    const int64_t Total = Stream.Size();
    const int64_t Remaining = Total - Stream.Position();
    if (Remaining <= 0) {
        return;
    }
    // A memory stream is decoded where it stands; any other is read into memory first. Ten
    // megabytes copied, allocated and freed cost more than the copy: each large block that
    // comes and goes makes the allocator sweep up every small block freed before it.
    std::unique_ptr<uint8_t[]> Copy;
    const uint8_t* Bytes = nullptr;
    if (auto* Memory = dynamic_cast<TVeskMemoryStream*>(&Stream)) {
        Bytes = Memory->Memory() + Memory->Position();
        Memory->SetPosition(Total);
    } else {
        Copy.reset(new uint8_t[static_cast<size_t>(Remaining)]);
        Stream.ReadBuffer(Copy.get(), static_cast<size_t>(Remaining));
        Bytes = Copy.get();
    }

    // A stream of 4 bytes or more always starts with a byte-order mark, whatever it holds;
    // a shorter one has none. Only FE FF selects big-endian.
    size_t Offset = 0;
    bool BigEndian = false;
    const size_t Size = static_cast<size_t>(Remaining);
    if (Total >= 4) {
        if (Size < 2) {
            return;
        }
        BigEndian = Bytes[0] == 0xFE && Bytes[1] == 0xFF;
        Offset = 2;
    }
    // A last byte without a partner is ignored.
    const size_t UnitCount = (Size - Offset) / 2;
    const uint8_t* Units = Bytes + Offset;
    auto UnitAt = [Units, BigEndian](size_t I) {
        return BigEndian ? static_cast<char16_t>(Units[2 * I] << 8 | Units[2 * I + 1])
                         : static_cast<char16_t>(Units[2 * I + 1] << 8 | Units[2 * I]);
    };
    auto Line = [&UnitAt](size_t First, size_t End) {
        TVeskWideString Text(End - First, u'\0');
        for (size_t I = First; I < End; ++I) {
            Text[I - First] = UnitAt(I);
        }
        return Text;
    };

    // CR, LF, CR LF and LF CR each end one line; CR CR or LF LF leave an empty line between.
    enum class TPending { None, AfterCR, AfterLF };
    TPending Pending = TPending::None;
    size_t LineStart = 0;
    for (size_t I = 0; I < UnitCount; ++I) {
        const char16_t Unit = UnitAt(I);
        if (Unit != UnitCR && Unit != UnitLF) {
            Pending = TPending::None;
            continue;
        }
        const TPending Same = Unit == UnitCR ? TPending::AfterCR : TPending::AfterLF;
        if (Pending == TPending::None) {
            Add(Line(LineStart, I), 0);
            Pending = Same;
        } else if (Pending == Same) {
            Add(TVeskWideString(), 0);
        } else {
            Pending = TPending::None;
        }
        LineStart = I + 1;
    }
    if (LineStart < UnitCount) {
        Add(Line(LineStart, UnitCount), 0);
    }
}

void TVeskWideStringList::SaveToStream(TVeskStream& Stream) const {
    const int32_t Lines = Count();
    size_t Size = 2;
    for (int32_t I = 0; I < Lines; ++I) {
        Size += 2 * FItemList->At(I)->Text().size() + (I > 0 ? 4 : 0);
    }
    // Encoded whole, straight into a memory stream or else into memory first, so that the
    // stream sees one write.
    std::unique_ptr<uint8_t[]> Copy;
    auto* Memory = dynamic_cast<TVeskMemoryStream*>(&Stream);
    if (Memory == nullptr) {
        Copy.reset(new uint8_t[Size]);
    }
    uint8_t* Out = Memory != nullptr ? Memory->Advance(Size) : Copy.get();
    auto Put = [&Out](char16_t Unit) {
        *Out++ = static_cast<uint8_t>(Unit & 0xFF);
        *Out++ = static_cast<uint8_t>(Unit >> 8);
    };
    Put(0xFEFF);
    for (int32_t I = 0; I < Lines; ++I) {
        if (I > 0) {
            Put(UnitCR);
            Put(UnitLF);
        }
        for (char16_t Unit : FItemList->At(I)->Text()) {
            Put(Unit);
        }
    }
    if (Copy) {
        Stream.WriteBuffer(Copy.get(), Size);
    }
}

// ---------------------------------------------------------------------------------------------
// INI values

TVeskIniValue::TVeskIniValue(TVeskIniKey* Owner) {
    SetOwner(Owner);
}

TVeskIniValue::~TVeskIniValue() {
    SetOwner(nullptr);
}

void TVeskIniValue::SetOwner(TVeskIniKey* NewOwner) {
    VeskMoveOwned<TVeskIniValue, TVeskIniKey>(
        this, FOwner, NewOwner, [](TVeskIniKey & Key) -> auto& { return Key.FValueList; });
}

namespace {

int HexDigit(char16_t Unit) {
    if (Unit >= u'0' && Unit <= u'9') {
        return Unit - u'0';
    }
    if (Unit >= u'a' && Unit <= u'f') {
        return Unit - u'a' + 10;
    }
    if (Unit >= u'A' && Unit <= u'F') {
        return Unit - u'A' + 10;
    }
    return -1;
}

// Spaces, one sign, then "$", "x", "X", "0x" or "0X" and up to eight significant hex digits,
// or decimal digits within the signed 32-bit range; nothing after the digits. Reading stops at
// the first U+0000. Only ASCII digits count.
bool ReadInteger(std::u16string_view Text, int32_t& Result) {
    const size_t End = std::min(Text.find(u'\0'), Text.size());
    size_t At = 0;
    while (At < End && Text[At] == u' ') {
        ++At;
    }
    bool Negative = false;
    if (At < End && (Text[At] == u'-' || Text[At] == u'+')) {
        Negative = Text[At] == u'-';
        ++At;
    }
    bool Hex = false;
    if (At < End && (Text[At] == u'$' || Text[At] == u'x' || Text[At] == u'X')) {
        Hex = true;
        At += 1;
    } else if (At + 1 < End && Text[At] == u'0' && (Text[At + 1] == u'x' || Text[At + 1] == u'X')) {
        Hex = true;
        At += 2;
    }
    if (At >= End) {
        return false;
    }
    if (Hex) {
        uint32_t Bits = 0;
        int Significant = 0;
        for (; At < End; ++At) {
            const int Digit = HexDigit(Text[At]);
            if (Digit < 0) {
                return false;
            }
            if (Significant > 0 || Digit != 0) {
                if (++Significant > 8) {
                    return false;
                }
            }
            Bits = Bits << 4 | static_cast<uint32_t>(Digit);
        }
        // Two's complement: "$FFFFFFFF" is -1 and "-$FFFFFFFF" is 1.
        Result = static_cast<int32_t>(Negative ? 0u - Bits : Bits);
        return true;
    }
    const uint32_t Limit = Negative ? 2147483648u : 2147483647u;
    uint32_t Magnitude = 0;
    for (; At < End; ++At) {
        const char16_t Unit = Text[At];
        if (Unit < u'0' || Unit > u'9') {
            return false;
        }
        const uint32_t Digit = Unit - u'0';
        if (Magnitude > (Limit - Digit) / 10) {
            return false;
        }
        Magnitude = Magnitude * 10 + Digit;
    }
    Result = static_cast<int32_t>(Negative ? 0u - Magnitude : Magnitude);
    return true;
}

} // namespace

int32_t TVeskIniValue::AsInteger() {
    int32_t Result = 0;
    if (ReadInteger(Text, Result)) {
        return Result;
    }
    // assign(1, ...) rather than = u"0": GCC 12 warns falsely (-Wrestrict) on the latter.
    Text.assign(1, u'0');
    return 0;
}

void TVeskIniValue::SetInteger(int32_t Value) {
    Text = Decimal(Value);
}

void TVeskIniValue::SetString(const TVeskWideString& Value) {
    Text = u'"' + Value + u'"';
}

// ---------------------------------------------------------------------------------------------
// INI keys

TVeskIniKey::TVeskIniKey(TVeskIniSection* Owner, TVeskWideString Name) {
    SetOwner(Owner);
    FName = std::move(Name);
}

TVeskIniKey::~TVeskIniKey() {
    Clear();
    SetOwner(nullptr);
}

void TVeskIniKey::SetOwner(TVeskIniSection* NewOwner) {
    VeskMoveOwned<TVeskIniKey, TVeskIniSection>(
        this, FOwner, NewOwner,
        [](TVeskIniSection & Section) -> auto& { return Section.FKeyList; });
}

void TVeskIniKey::Clear() {
    VeskFreeOwned(FValueList);
}

TVeskIniValue* TVeskIniKey::Values(int32_t Index) {
    if (Index < 0) {
        VeskListIndexError(Index);
    }
    while (Index >= ValueCount()) {
        AddString(TVeskWideString());
    }
    return FValueList->At(Index);
}

int32_t TVeskIniKey::AddString(const TVeskWideString& Text) {
    const int32_t Index = ValueCount();
    (new TVeskIniValue(this))->SetString(Text);
    return Index;
}

int32_t TVeskIniKey::AddInteger(int32_t Value) {
    const int32_t Index = ValueCount();
    (new TVeskIniValue(this))->SetInteger(Value);
    return Index;
}

int32_t TVeskIniKey::AddRaw(TVeskWideString Text) {
    const int32_t Index = ValueCount();
    (new TVeskIniValue(this))->Text = std::move(Text);
    return Index;
}

TVeskIniValue* TVeskIniKey::FirstValue(int32_t Default) {
    if (ValueCount() <= 0) {
        AddInteger(Default);
    }
    return Values(0);
}

// ---------------------------------------------------------------------------------------------
// INI sections

TVeskIniSection::TVeskIniSection(TVeskIni* Owner, TVeskWideString Name) {
    SetOwner(Owner);
    FName = std::move(Name);
}

TVeskIniSection::~TVeskIniSection() {
    Clear();
    SetOwner(nullptr);
}

void TVeskIniSection::SetOwner(TVeskIni* NewOwner) {
    VeskMoveOwned<TVeskIniSection, TVeskIni>(
        this, FOwner, NewOwner, [](TVeskIni & Ini) -> auto& { return Ini.FSectionList; });
}

void TVeskIniSection::Clear() {
    VeskFreeOwned(FKeyList);
}

TVeskIniKey* TVeskIniSection::Keys(int32_t Index) const {
    if (Index < 0 || Index >= KeyCount()) {
        VeskListIndexError(Index);
    }
    return FKeyList->At(Index);
}

int32_t TVeskIniSection::IndexOfKey(std::u16string_view Name) const {
    const int32_t Count = KeyCount();
    for (int32_t I = 0; I < Count; ++I) {
        if (FKeyList->At(I)->Name() == Name) {
            return I;
        }
    }
    return -1;
}

int32_t TVeskIniSection::AddKey(std::u16string_view Name) {
    const int32_t Found = IndexOfKey(Name);
    if (Found >= 0) {
        return Found;
    }
    const int32_t Index = KeyCount();
    new TVeskIniKey(this, TVeskWideString(Name));
    return Index;
}

TVeskIniKey* TVeskIniSection::Key(std::u16string_view Name) {
    return Keys(AddKey(Name));
}

// ---------------------------------------------------------------------------------------------
// INI document

TVeskIni::~TVeskIni() {
    Clear();
}

void TVeskIni::Clear() {
    VeskFreeOwned(FSectionList);
}

TVeskIniSection* TVeskIni::Sections(int32_t Index) const {
    if (Index < 0 || Index >= SectionCount()) {
        VeskListIndexError(Index);
    }
    return FSectionList->At(Index);
}

int32_t TVeskIni::IndexOfSection(std::u16string_view Name) const {
    const int32_t Count = SectionCount();
    for (int32_t I = 0; I < Count; ++I) {
        if (FSectionList->At(I)->Name() == Name) {
            return I;
        }
    }
    return -1;
}

int32_t TVeskIni::AddSection(std::u16string_view Name) {
    const int32_t Found = IndexOfSection(Name);
    if (Found >= 0) {
        return Found;
    }
    const int32_t Index = SectionCount();
    new TVeskIniSection(this, TVeskWideString(Name));
    return Index;
}

TVeskIniSection* TVeskIni::Section(std::u16string_view Name) {
    return Sections(AddSection(Name));
}

namespace {

// Get-or-add by name gives the first object of that name. A big file would make that a scan
// per line, so the parser remembers, for the length of one call, where each name first
// stands. Nothing is removed while it parses, so a remembered first match stays the first.
// Sections of a few keys are scanned as they are: their keys are fresh in the cache.
class TNameIndex {
public:
    TVeskIniSection* Section(TVeskIni& Ini, std::u16string_view Name) {
        if (!SectionsIndexed) {
            for (int32_t I = 0; I < Ini.SectionCount(); ++I) {
                Sections.emplace(Ini.Sections(I)->Name(), Ini.Sections(I));
            }
            SectionsIndexed = true;
        }
        auto Found = Sections.find(Name);
        TVeskIniSection* Result = Found != Sections.end() ? Found->second : nullptr;
        if (Result == nullptr) {
            // Known to be absent: appended without another scan, as get-or-add would.
            Result = new TVeskIniSection(&Ini, TVeskWideString(Name));
            Sections.emplace(Result->Name(), Result);
        }
        CurrentKeys = &KeysOf[Result];
        return Result;
    }

    // A key of the section that Section() returned last.
    TVeskIniKey* Key(TVeskIniSection& Section, std::u16string_view Name) {
        TNames& Keys = *CurrentKeys;
        if (!Keys.Indexed) {
            if (Section.KeyCount() < ScanLimit) {
                return Section.Key(Name);
            }
            for (int32_t I = 0; I < Section.KeyCount(); ++I) {
                Keys.Names.emplace(Section.Keys(I)->Name(), Section.Keys(I));
            }
            Keys.Indexed = true;
        }
        auto Found = Keys.Names.find(Name);
        if (Found != Keys.Names.end()) {
            return Found->second;
        }
        auto* Added = new TVeskIniKey(&Section, TVeskWideString(Name));
        Keys.Names.emplace(Added->Name(), Added);
        return Added;
    }

private:
    static constexpr int32_t ScanLimit = 64;
    struct TNames {
        bool Indexed = false;
        std::unordered_map<std::u16string_view, TVeskIniKey*> Names;
    };
    bool SectionsIndexed = false;
    std::unordered_map<std::u16string_view, TVeskIniSection*> Sections;
    std::unordered_map<const TVeskIniSection*, TNames> KeysOf;
    TNames* CurrentKeys = nullptr;
};

bool IsSectionHeader(std::u16string_view Line) {
    return Line.size() >= 3 && Line.front() == u'[' && Line.back() == u']';
}

void ParseKeyLine(TNameIndex& Index, TVeskIniSection& Section, std::u16string_view Line) {
    // Only the first "=" separates; every "," cuts a value, and a "," that ends the line
    // gives no value after it.
    const size_t Equals = Line.find(u'=');
    TVeskIniKey* Key = Index.Key(Section, Trim(Line.substr(0, Equals)));
    size_t At = Equals == std::u16string_view::npos ? Line.size() : Equals + 1;
    do {
        const size_t Comma = std::min(Line.find(u',', At), Line.size());
        Key->AddRaw(TVeskWideString(Trim(Line.substr(At, Comma - At))));
        At = Comma + 1;
    } while (At < Line.size());
}

} // namespace

void TVeskIni::LoadFromStrings(const TVeskWideStringList& Lines) {
    TNameIndex Index;
    TVeskIniSection* Current = nullptr;
    const int32_t Count = Lines.Count();
    for (int32_t I = 0; I < Count; ++I) {
        const std::u16string_view Line = Lines.Items(I)->Text();
        if (Line.empty()) {
            continue;
        }
        if (IsSectionHeader(Line)) {
            Current = Index.Section(*this, Line.substr(1, Line.size() - 2));
        } else if (Current != nullptr) {
            ParseKeyLine(Index, *Current, Line);
        }
    }
}

void TVeskIni::SaveToStrings(TVeskWideStringList& Lines) const {
    const int32_t Count = SectionCount();
    TVeskWideString Line;
    for (int32_t S = 0; S < Count; ++S) {
        const TVeskIniSection& Section = *FSectionList->At(S);
        if (S > 0) {
            Lines.Add(TVeskWideString(), 0);
        }
        Lines.Add(u'[' + Section.Name() + u']', 0);
        for (int32_t K = 0; K < Section.KeyCount(); ++K) {
            const TVeskIniKey& Key = *Section.Keys(K);
            Line = Key.Name();
            Line += u" = ";
            for (int32_t V = 0; V < Key.ValueCount(); ++V) {
                if (V > 0) {
                    Line += u',';
                }
                Line += Key.ValueList()->At(V)->Text;
            }
            Lines.Add(Line, 0);
        }
    }
}
