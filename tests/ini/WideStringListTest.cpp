#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "IniTestSupport.h"
#include "VeskError.h"
#include "VeskIni.h"

namespace {

const char16_t CR = u'\r';
const char16_t LF = u'\n';

TVeskWideString Units(std::initializer_list<char16_t> List) {
    return TVeskWideString(List);
}

struct TEncodeCase {
    const char* What;
    TLines Lines;
    TBytes Bytes;
};

TEST(WideStringListEncoding, WritesMarkThenLittleEndianUnitsWithCrLfBetweenLines) {
    const std::vector<TEncodeCase> Cases = {
        {"no lines", {}, {0xFF, 0xFE}},
        {"one empty line", {u""}, {0xFF, 0xFE}},
        {"two lines", {u"a", u"b"}, {0xFF, 0xFE, 0x61, 0, 0x0D, 0, 0x0A, 0, 0x62, 0}},
        {"empty last line", {u"a", u""}, {0xFF, 0xFE, 0x61, 0, 0x0D, 0, 0x0A, 0}},
        {"empty first line", {u"", u"a"}, {0xFF, 0xFE, 0x0D, 0, 0x0A, 0, 0x61, 0}},
        {"units written as they stand",
         {Units({0x0000, 0xD800, 0xFFFF, 0xFEFF})},
         {0xFF, 0xFE, 0x00, 0x00, 0x00, 0xD8, 0xFF, 0xFF, 0xFF, 0xFE}},
    };
    for (const TEncodeCase& Case : Cases) {
        EXPECT_EQ(Encode(Case.Lines), Case.Bytes) << Case.What;
    }
}

struct TDecodeCase {
    const char* What;
    TBytes Bytes;
    TLines Lines;
};

TEST(WideStringListDecoding, ReadsEveryByteSequenceByMarkUnitsAndLineEnds) {
    const TVeskWideString Nul(1, u'\0');
    const std::vector<TDecodeCase> Cases = {
        {"0 bytes", {}, {}},
        {"1 byte", {0x41}, {}},
        {"2 bytes: no mark", {0x41, 0x00}, {u"A"}},
        {"mark alone is a unit", {0xFF, 0xFE}, {u"\uFEFF"}},
        {"3 bytes: last ignored", {0x41, 0x00, 0x42}, {u"A"}},
        {"little-endian mark", {0xFF, 0xFE, 0x41, 0x00}, {u"A"}},
        {"big-endian mark", {0xFE, 0xFF, 0x00, 0x41}, {u"A"}},
        {"no mark: first unit dropped", {0x41, 0x00, 0x42, 0x00}, {u"B"}},
        {"any pair is a mark", {0x12, 0x34, 0x41, 0x00}, {u"A"}},
        {"odd size", {0xFF, 0xFE, 0x41, 0x00, 0x42}, {u"A"}},
        {"odd size big-endian", {0xFE, 0xFF, 0x00, 0x41, 0x00}, {u"A"}},
        {"U+FEFF inside is text", {0xFF, 0xFE, 0xFF, 0xFE, 0x41, 0x00}, {u"\uFEFFA"}},
        {"U+0000 is text", {0xFF, 0xFE, 0x78, 0, 0x0D, 0, 0x0A, 0, 0, 0}, {u"x", Nul}},
        {"big-endian line end", {0xFE, 0xFF, 0, 0x78, 0, 0x0D, 0, 0x79}, {u"x", u"y"}},
    };
    for (const TDecodeCase& Case : Cases) {
        EXPECT_EQ(Decode(Case.Bytes), Case.Lines) << Case.What;
    }
}

TEST(WideStringListDecoding, EachLineEndFormEndsOneLine) {
    struct TLineEndCase {
        TVeskWideString Text;
        TLines Lines;
    };
    const std::vector<TLineEndCase> Cases = {
        {Units({'x', CR, 'y'}), {u"x", u"y"}},
        {Units({'x', LF, 'y'}), {u"x", u"y"}},
        {Units({'x', CR, LF, 'y'}), {u"x", u"y"}},
        {Units({'x', LF, CR, 'y'}), {u"x", u"y"}},
        {Units({'x', CR, CR, 'y'}), {u"x", u"", u"y"}},
        {Units({'x', LF, LF, 'y'}), {u"x", u"", u"y"}},
        {Units({'x', CR, LF, CR, LF, 'y'}), {u"x", u"", u"y"}},
        {Units({'x', LF, CR, LF, CR, 'y'}), {u"x", u"", u"y"}},
        {Units({'x', CR, LF, LF, 'y'}), {u"x", u"", u"y"}},
        {Units({CR}), {u""}},
        {Units({CR, LF}), {u""}},
        {Units({LF, CR}), {u""}},
        {Units({CR, CR}), {u"", u""}},
        {Units({'x', CR, LF}), {u"x"}},
        {Units({'x', CR, CR}), {u"x", u""}},
    };
    for (const TLineEndCase& Case : Cases) {
        // Written as one line, so the stream holds exactly these units after the mark.
        EXPECT_EQ(Decode(Encode({Case.Text})), Case.Lines)
            << "units: " << testing::PrintToString(Case.Text);
    }
}

TEST(WideStringListDecoding, LineHoldingLineBreaksGivenToAddComesBackAsSeveralLines) {
    TVeskWideStringList List;
    List.Add(u"a\r\nb\rc", 0);
    EXPECT_EQ(LinesOf(List), TLines({u"a\r\nb\rc"}));
    EXPECT_EQ(Decode(Encode(LinesOf(List))), TLines({u"a", u"b", u"c"}));
}

TEST(WideStringListDecoding, LoadReplacesEarlierLines) {
    TVeskWideStringList List;
    AddLines(List, {u"old 1", u"old 2"});
    LoadBytes(List, {0xFF, 0xFE, 0x41, 0x00});
    EXPECT_EQ(LinesOf(List), TLines({u"A"}));
    LoadBytes(List, {});
    EXPECT_EQ(List.Count(), 0);
    EXPECT_EQ(List.ItemList(), nullptr);
}

TEST(WideStringListDecoding, LoadReadsFromTheStreamPositionToItsEnd) {
    TVeskMemoryStream Stream;
    const uint8_t Bytes[] = {1, 2, 3, 0xFE, 0xFF, 0x00, 0x41};
    Stream.WriteBuffer(Bytes, sizeof Bytes);
    Stream.SetPosition(3);
    TVeskWideStringList List;
    List.LoadFromStream(Stream);
    EXPECT_EQ(LinesOf(List), TLines({u"A"}));
    EXPECT_EQ(Stream.Position(), Stream.Size());
}

TEST(WideStringListEncoding, SaveWritesAtTheStreamPositionAndLeavesTheListAlone) {
    TVeskWideStringList List;
    AddLines(List, {u"a"});
    TVeskMemoryStream Stream;
    const uint8_t Before[] = {1, 2, 3};
    Stream.WriteBuffer(Before, sizeof Before);
    List.SaveToStream(Stream);
    EXPECT_EQ(BytesOf(Stream), TBytes({1, 2, 3, 0xFF, 0xFE, 0x61, 0x00}));
    EXPECT_EQ(LinesOf(List), TLines({u"a"}));
}

TEST(WideStringList, AddReturnsTheNextIndexAndKeepsTextAndTag) {
    TVeskWideStringList List;
    EXPECT_EQ(List.Add(u"zero", 10), 0);
    EXPECT_EQ(List.Add(u"one", -1), 1);
    EXPECT_EQ(List.Add(u"", 0), 2);
    EXPECT_EQ(LinesOf(List), TLines({u"zero", u"one", u""}));
    EXPECT_EQ(List.Items(0)->Data(), 10);
    EXPECT_EQ(List.Items(1)->Data(), -1);
    EXPECT_EQ(List.Items(1)->Owner(), &List);
}

TEST(WideStringList, IndexOutsideTheListFailsWithThatIndex) {
    struct TCase {
        int32_t Lines;
        int32_t Index;
        const char* Message;
    };
    const std::vector<TCase> Cases = {
        {3, 3, "List index out of bounds (3)"},
        {3, -1, "List index out of bounds (-1)"},
        {0, 0, "List index out of bounds (0)"},
        {1, INT32_MIN, "List index out of bounds (-2147483648)"},
    };
    for (const TCase& Case : Cases) {
        TVeskWideStringList List;
        for (int32_t I = 0; I < Case.Lines; ++I) {
            List.Add(u"x", 0);
        }
        EXPECT_EQ(FailureOf([&] { List.Items(Case.Index); }), Case.Message);
        EXPECT_EQ(FailureOf([&] { List.Strings(Case.Index); }), Case.Message);
        EXPECT_EQ(List.Count(), Case.Lines);
    }
}

TEST(WideStringList, FreeingAnItemTakesItOutAndMovesTheOnesBehindDown) {
    TVeskWideStringList List;
    AddLines(List, {u"a", u"b", u"c"});
    delete List.Items(1);
    EXPECT_EQ(LinesOf(List), TLines({u"a", u"c"}));
    delete List.Items(0);
    delete List.Items(0);
    EXPECT_EQ(List.Count(), 0);
    EXPECT_EQ(List.ItemList(), nullptr);
}

TEST(WideStringList, ItemListExistsExactlyWhileItHoldsItems) {
    TVeskWideStringList List;
    EXPECT_EQ(List.ItemList(), nullptr);
    List.Clear();
    EXPECT_EQ(List.ItemList(), nullptr);
    List.Add(u"a", 0);
    ASSERT_NE(List.ItemList(), nullptr);
    EXPECT_EQ(List.ItemList()->Count(), 1);
    List.Clear();
    EXPECT_EQ(List.ItemList(), nullptr);
    EXPECT_EQ(List.Count(), 0);
}

TEST(WideStringList, SetOwnerMovesAnItemToTheEndOfAnotherList) {
    TVeskWideStringList First;
    TVeskWideStringList Second;
    AddLines(First, {u"a", u"b"});
    AddLines(Second, {u"c"});

    // The same owner again changes nothing: the item does not move to the end.
    First.Items(0)->SetOwner(&First);
    EXPECT_EQ(LinesOf(First), TLines({u"a", u"b"}));

    First.Items(0)->SetOwner(&Second);
    EXPECT_EQ(LinesOf(First), TLines({u"b"}));
    EXPECT_EQ(LinesOf(Second), TLines({u"c", u"a"}));
    EXPECT_EQ(Second.Items(1)->Owner(), &Second);

    First.Items(0)->SetOwner(&Second);
    EXPECT_EQ(First.ItemList(), nullptr);
    EXPECT_EQ(LinesOf(Second), TLines({u"c", u"a", u"b"}));

    // Detached, it is in no list; detaching again changes nothing.
    TVeskWideStringListItem* Item = Second.Items(1);
    Item->SetOwner(nullptr);
    Item->SetOwner(nullptr);
    EXPECT_EQ(Item->Owner(), nullptr);
    EXPECT_EQ(LinesOf(Second), TLines({u"c", u"b"}));
    delete Item;
}

// Notes, as each item is freed, which one it is and where it stands in its list.
class TNotingItem : public TVeskWideStringListItem {
public:
    TNotingItem(TVeskWideStringList* Owner, TVeskWideString Text, std::vector<std::string>& Notes)
        : TVeskWideStringListItem(Owner, std::move(Text), 0), FNotes(Notes) {}
    ~TNotingItem() override {
        const bool First = Owner() != nullptr && Owner()->Items(0) == this;
        FNotes.push_back(std::string(Text().begin(), Text().end()) + (First ? "@0" : "@?"));
    }

private:
    std::vector<std::string>& FNotes;
};

TEST(WideStringList, ClearFreesItemsFromTheFirstToTheLast) {
    std::vector<std::string> Notes;
    {
        TVeskWideStringList List;
        for (const char16_t* Text : {u"a", u"b", u"c"}) {
            new TNotingItem(&List, Text, Notes);
        }
        List.Clear();
        EXPECT_EQ(Notes, std::vector<std::string>({"a@0", "b@0", "c@0"}));
        new TNotingItem(&List, u"d", Notes);
    }
    // The destructor clears too.
    EXPECT_EQ(Notes.back(), "d@0");
}

// A stream that takes or gives at most a few bytes, as a full disk or a cut file would.
class TShortStream final : public TVeskStream {
public:
    explicit TShortStream(size_t Limit) : FLimit(Limit) {}
    int64_t Size() const override { return 100; }
    int64_t Position() const override { return 0; }
    void SetPosition(int64_t) override {}
    size_t Read(void* Buffer, size_t Count) override {
        const size_t Taken = Count < FLimit ? Count : FLimit;
        std::memset(Buffer, 'x', Taken);
        return Taken;
    }
    size_t Write(const void*, size_t Count) override { return Count < FLimit ? Count : FLimit; }

private:
    size_t FLimit;
};

TEST(WideStringListStreams, ShortReadsAndWritesFailWithTheStreamTexts) {
    TVeskWideStringList List;
    AddLines(List, {u"abc"});
    TShortStream Stream(4);
    EXPECT_EQ(FailureOf([&] { List.SaveToStream(Stream); }), "Stream write error");
    EXPECT_EQ(LinesOf(List), TLines({u"abc"}));
    EXPECT_EQ(FailureOf([&] { List.LoadFromStream(Stream); }), "Stream read error");
}

TEST(MemoryStream, ReadsWhatWasWrittenAndGrowsAsNeeded) {
    TVeskMemoryStream Stream;
    std::vector<uint8_t> Data(100000);
    for (size_t I = 0; I < Data.size(); ++I) {
        Data[I] = static_cast<uint8_t>(I * 7);
    }
    for (size_t At = 0; At < Data.size(); At += 1000) {
        Stream.WriteBuffer(Data.data() + At, 1000);
    }
    EXPECT_EQ(Stream.Size(), 100000);
    EXPECT_EQ(BytesOf(Stream), Data);

    // Writing past the end pads with zeros; reading past the end gives nothing.
    Stream.SetPosition(100002);
    Stream.WriteBuffer("z", 1);
    EXPECT_EQ(Stream.Size(), 100003);
    EXPECT_EQ(Stream.Memory()[100000], 0);
    uint8_t Byte = 0;
    EXPECT_EQ(Stream.Read(&Byte, 1), 0u);
    Stream.SetPosition(99999);
    EXPECT_EQ(FailureOf([&] {
                  uint8_t Four[4];
                  Stream.ReadBuffer(Four, 4);
              }),
              "");
    EXPECT_EQ(FailureOf([&] { Stream.ReadBuffer(&Byte, 1); }), "Stream read error");
}

TEST(MemoryStream, SizeBeyondWhatCanBeHeldFailsWithTheOutOfMemoryText) {
    TVeskMemoryStream Stream;
    Stream.WriteBuffer("abc", 3);
    const char* Message = "Out of memory while expanding memory stream";
    EXPECT_EQ(FailureOf([&] { Stream.SetSize(TVeskMemoryStream::MaxSize + 1); }), Message);
    Stream.SetPosition(TVeskMemoryStream::MaxSize);
    EXPECT_EQ(FailureOf([&] { Stream.WriteBuffer("x", 1); }), Message);
    EXPECT_EQ(BytesOf(Stream), TBytes({'a', 'b', 'c'}));
}

} // namespace
