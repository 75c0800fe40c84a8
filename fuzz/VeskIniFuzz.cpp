// libFuzzer target for the wide INI library: arbitrary bytes go through the decoder, the
// parser, the serialiser and the encoder, and back through the decoder and the parser.
//
// Invariants checked for every input (a broken one aborts with the number below):
//  1. Decoding never fails, and gives lines without CR or LF whose units are no more than the
//     input holds; a list holds an ItemList exactly while its Count is above 0. A memory
//     stream (decoded in place) and any other stream (read into memory first) decode alike.
//  2. The encoder writes 2 + 2 x units + 4 x (lines - 1) bytes for a list of at least one line,
//     and 2 bytes for an empty list.
//  3. Decoding the encoder's output gives the lines back, less one empty last line; the 2-byte
//     output (no lines, or one empty line) decodes as the single line U+FEFF.
//  4. Parsing never fails. In the document every object's Owner is the object whose list holds
//     it; section names are never empty; key names and values have nothing from U+0000 to
//     U+0020 at either end; names have no "=", values no ","; every key has a value.
//  5. A second load-and-save of a saved document gives the same bytes, unless a key has more
//     than one value and an empty last one, or a key's line begins with "[" and ends with "]".
//  6. AsInteger on any text agrees with an independent reading of the integer rules below,
//     and leaves the text unchanged for an integer, "0" otherwise.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "VeskIni.h"

namespace {

[[noreturn]] void Broken(int Invariant) {
    std::fprintf(stderr, "INI invariant %d broken\n", Invariant);
    std::abort();
}

void Check(bool Holds, int Invariant) {
    if (!Holds) {
        Broken(Invariant);
    }
}

// The first Count lines of both lists are equal. (Compared in place: copying every line for
// each check would make allocation the main cost of a run.)
bool SameLines(const TVeskWideStringList& A, const TVeskWideStringList& B, int32_t Count) {
    for (int32_t I = 0; I < Count; ++I) {
        if (A.Items(I)->Text() != B.Items(I)->Text()) {
            return false;
        }
    }
    return true;
}

std::vector<uint8_t> Encode(const TVeskWideStringList& List) {
    TVeskMemoryStream Stream;
    List.SaveToStream(Stream);
    return std::vector<uint8_t>(Stream.Memory(), Stream.Memory() + Stream.Size());
}

void Decode(const uint8_t* Data, size_t Size, TVeskWideStringList& List) {
    TVeskMemoryStream Stream;
    Stream.WriteBuffer(Data, Size);
    Stream.SetPosition(0);
    List.LoadFromStream(Stream);
}

// A stream over the fuzzer's own buffer, which is exactly as long as the input: a read past
// its end is a sanitizer report, where a memory stream might have spare room behind its data.
class TInputStream final : public TVeskStream {
public:
    TInputStream(const uint8_t* Data, size_t Size) : FData(Data), FSize(Size) {}
    int64_t Size() const override { return static_cast<int64_t>(FSize); }
    int64_t Position() const override { return static_cast<int64_t>(FPosition); }
    void SetPosition(int64_t Position) override { FPosition = static_cast<size_t>(Position); }
    size_t Read(void* Buffer, size_t Count) override {
        const size_t Taken = std::min(Count, FSize - std::min(FPosition, FSize));
        std::memcpy(Buffer, FData + FPosition, Taken);
        FPosition += Taken;
        return Taken;
    }
    size_t Write(const void*, size_t) override { return 0; }

private:
    const uint8_t* FData;
    size_t FSize;
    size_t FPosition = 0;
};

std::vector<uint8_t> Save(const TVeskIni& Ini) {
    TVeskWideStringList Lines;
    Ini.SaveToStrings(Lines);
    return Encode(Lines);
}

bool Untrimmed(const TVeskWideString& Text) {
    return !Text.empty() && (Text.front() <= 0x20 || Text.back() <= 0x20);
}

void CheckDocument(const TVeskIni& Ini) {
    Check((Ini.SectionList() == nullptr) == (Ini.SectionCount() == 0), 4);
    for (int32_t S = 0; S < Ini.SectionCount(); ++S) {
        const TVeskIniSection* Section = Ini.Sections(S);
        Check(Section->Owner() == &Ini && !Section->Name().empty(), 4);
        Check((Section->KeyList() == nullptr) == (Section->KeyCount() == 0), 4);
        for (int32_t K = 0; K < Section->KeyCount(); ++K) {
            const TVeskIniKey* Key = Section->Keys(K);
            Check(Key->Owner() == Section && Key->ValueCount() > 0, 4);
            Check(!Untrimmed(Key->Name()) && Key->Name().find(u'=') == TVeskWideString::npos, 4);
            for (int32_t V = 0; V < Key->ValueCount(); ++V) {
                const TVeskIniValue* Value = Key->ValueList()->At(V);
                Check(Value->Owner() == Key && !Untrimmed(Value->Text), 4);
                Check(Value->Text.find(u',') == TVeskWideString::npos, 4);
            }
        }
    }
}

// The two shapes the format does not bring back alike on a second load.
bool SavesUnstably(const TVeskIni& Ini) {
    for (int32_t S = 0; S < Ini.SectionCount(); ++S) {
        const TVeskIniSection* Section = Ini.Sections(S);
        for (int32_t K = 0; K < Section->KeyCount(); ++K) {
            const TVeskIniKey* Key = Section->Keys(K);
            const int32_t Count = Key->ValueCount();
            const TVeskWideString& Last = Key->ValueList()->At(Count - 1)->Text;
            if (Count > 1 && Last.empty()) {
                return true;
            }
            if (!Key->Name().empty() && Key->Name().front() == u'[' && !Last.empty() &&
                Last.back() == u']') {
                return true;
            }
        }
    }
    return false;
}

void CheckListAndDocument(const uint8_t* Data, size_t Size) {
    // 1
    TVeskWideStringList List;
    TInputStream Input(Data, Size);
    List.LoadFromStream(Input);
    const int32_t Count = List.Count();
    Check((List.ItemList() == nullptr) == (Count == 0), 1);
    size_t Units = 0;
    for (int32_t I = 0; I < Count; ++I) {
        const TVeskWideString& Line = List.Items(I)->Text();
        Check(Line.find_first_of(u"\r\n") == TVeskWideString::npos, 1);
        Units += Line.size();
    }
    Check(Units <= Size / 2, 1);
    TVeskWideStringList FromMemory;
    Decode(Data, Size, FromMemory);
    Check(FromMemory.Count() == Count && SameLines(FromMemory, List, Count), 1);

    // 2
    const std::vector<uint8_t> Encoded = Encode(List);
    const size_t Expected = Count == 0 ? 2 : 2 + 2 * Units + 4 * (static_cast<size_t>(Count) - 1);
    Check(Encoded.size() == Expected, 2);

    // 3
    TVeskWideStringList Again;
    Decode(Encoded.data(), Encoded.size(), Again);
    if (Encoded.size() == 2) {
        Check(Again.Count() == 1 && Again.Items(0)->Text() == u"\uFEFF", 3);
    } else {
        const bool EmptyLast = List.Items(Count - 1)->Text().empty();
        const int32_t Back = EmptyLast ? Count - 1 : Count;
        Check(Again.Count() == Back && SameLines(Again, List, Back), 3);
    }

    // 4
    TVeskIni Ini;
    Ini.LoadFromStrings(List);
    CheckDocument(Ini);

    // 5
    if (!SavesUnstably(Ini)) {
        const std::vector<uint8_t> Saved = Save(Ini);
        TVeskWideStringList SavedLines;
        Decode(Saved.data(), Saved.size(), SavedLines);
        TVeskIni Reloaded;
        Reloaded.LoadFromStrings(SavedLines);
        CheckDocument(Reloaded);
        Check(Save(Reloaded) == Saved, 5);
    }
}

// 6: the integer rules read a second way, over narrow text: spaces; at most one sign; "0x",
// "0X", "$", "x" or "X" and hex digits, at most eight of them after leading zeros; or decimal
// digits within the 32-bit range; nothing else, up to the first U+0000.
bool ReferenceInteger(const TVeskWideString& Wide, int32_t& Result) {
    std::string Text;
    for (char16_t Unit : Wide) {
        if (Unit == 0) {
            break;
        }
        Text += Unit < 0x80 ? static_cast<char>(Unit) : '\x7f';
    }
    const size_t First = Text.find_first_not_of(' ');
    if (First == std::string::npos) {
        return false;
    }
    std::string Rest = Text.substr(First);
    const bool Negative = Rest[0] == '-';
    if (Rest[0] == '-' || Rest[0] == '+') {
        Rest.erase(0, 1);
    }
    const bool Hex = Rest.rfind("0x", 0) == 0 || Rest.rfind("0X", 0) == 0 ||
                     (!Rest.empty() && std::strchr("$xX", Rest[0]) != nullptr);
    std::string Digits = Hex ? Rest.substr(Rest[0] == '0' ? 2 : 1) : Rest;
    const char* Allowed = Hex ? "0123456789abcdefABCDEF" : "0123456789";
    if (Digits.empty() || Digits.find_first_not_of(Allowed) != std::string::npos) {
        return false;
    }
    Digits.erase(0, std::min(Digits.find_first_not_of('0'), Digits.size() - 1));
    if (Digits.size() > (Hex ? 8u : 10u)) {
        return false;
    }
    if (Hex) {
        const uint32_t Bits = static_cast<uint32_t>(std::strtoul(Digits.c_str(), nullptr, 16));
        Result = static_cast<int32_t>(Negative ? 0u - Bits : Bits);
        return true;
    }
    const long long Magnitude = std::strtoll(Digits.c_str(), nullptr, 10);
    const long long Signed = Negative ? -Magnitude : Magnitude;
    if (Signed < INT32_MIN || Signed > INT32_MAX) {
        return false;
    }
    Result = static_cast<int32_t>(Signed);
    return true;
}

void CheckAsInteger(const TVeskWideString& Text) {
    TVeskIniValue Value(nullptr);
    Value.Text = Text;
    int32_t Expected = 0;
    const bool IsInteger = ReferenceInteger(Text, Expected);
    const int32_t Result = Value.AsInteger();
    Check(Result == (IsInteger ? Expected : 0), 6);
    Check(Value.Text == (IsInteger ? Text : TVeskWideString(u"0")), 6);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    CheckListAndDocument(Data, Size);

    // Integers are short: read the first bytes both as one unit each (mostly ASCII, so that
    // digits and markers come up often) and as little-endian pairs.
    const size_t Short = Size < 40 ? Size : 40;
    CheckAsInteger(TVeskWideString(Data, Data + Short));
    TVeskWideString Pairs;
    for (size_t I = 0; I + 1 < Short; I += 2) {
        Pairs += static_cast<char16_t>(Data[I] | Data[I + 1] << 8);
    }
    CheckAsInteger(Pairs);
    return 0;
}
