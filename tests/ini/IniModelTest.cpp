#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "IniTestSupport.h"
#include "VeskError.h"
#include "VeskIni.h"

namespace {

TLines ValueTexts(const TVeskIniKey& Key) {
    TLines Texts;
    for (int32_t I = 0; I < Key.ValueCount(); ++I) {
        Texts.push_back(Key.ValueList()->At(I)->Text);
    }
    return Texts;
}

TEST(IniModel, GetOrAddMatchesNamesExactlyToTheCodeUnit) {
    const std::vector<TVeskWideString> Others = {
        u"name", u"NAME", u"Name ", u" Name", u"Nam", u"Namee", TVeskWideString(u"Name\0", 5), u""};
    TVeskIni Ini;
    TVeskIniSection* Section = Ini.Section(u"Name");
    TVeskIniKey* Key = Section->Key(u"Name");
    for (const TVeskWideString& Other : Others) {
        SCOPED_TRACE(testing::PrintToString(Other));
        const int32_t Sections = Ini.SectionCount();
        EXPECT_EQ(Ini.IndexOfSection(Other), -1);
        EXPECT_EQ(Ini.AddSection(Other), Sections);
        EXPECT_EQ(Ini.Sections(Sections)->Name(), Other);
        EXPECT_EQ(Ini.Section(Other), Ini.Sections(Sections));

        const int32_t Keys = Section->KeyCount();
        EXPECT_EQ(Section->IndexOfKey(Other), -1);
        EXPECT_EQ(Section->AddKey(Other), Keys);
        EXPECT_EQ(Section->Key(Other), Section->Keys(Keys));
    }
    // The exact name still reaches the first object and adds nothing.
    const int32_t Sections = Ini.SectionCount();
    EXPECT_EQ(Ini.AddSection(u"Name"), 0);
    EXPECT_EQ(Ini.Section(u"Name"), Section);
    EXPECT_EQ(Section->Key(u"Name"), Key);
    EXPECT_EQ(Ini.SectionCount(), Sections);
    EXPECT_EQ(Section->Owner(), &Ini);
    EXPECT_EQ(Key->Owner(), Section);
}

TEST(IniModel, SearchFindsTheFirstOfTwoObjectsOfOneName) {
    TVeskIni Ini;
    auto* First = new TVeskIniSection(&Ini, u"s");
    new TVeskIniSection(&Ini, u"s");
    EXPECT_EQ(Ini.IndexOfSection(u"s"), 0);
    EXPECT_EQ(Ini.Section(u"s"), First);
    auto* Key = new TVeskIniKey(First, u"k");
    new TVeskIniKey(First, u"k");
    EXPECT_EQ(First->Key(u"k"), Key);
    EXPECT_EQ(Ini.SectionCount(), 2);
    EXPECT_EQ(First->KeyCount(), 2);
}

TEST(IniModel, IndexOutsideAListFailsWithThatIndexAndAddsNothing) {
    TVeskIni Ini;
    EXPECT_EQ(FailureOf([&] { Ini.Sections(0); }), "List index out of bounds (0)");
    TVeskIniSection* Section = Ini.Section(u"s");
    EXPECT_EQ(FailureOf([&] { Ini.Sections(1); }), "List index out of bounds (1)");
    EXPECT_EQ(FailureOf([&] { Ini.Sections(-1); }), "List index out of bounds (-1)");
    EXPECT_EQ(FailureOf([&] { Section->Keys(0); }), "List index out of bounds (0)");
    TVeskIniKey* Key = Section->Key(u"k");
    EXPECT_EQ(FailureOf([&] { Key->Values(-1); }), "List index out of bounds (-1)");
    EXPECT_EQ(Key->ValueCount(), 0);
    EXPECT_EQ(Key->ValueList(), nullptr);
    EXPECT_EQ(Ini.SectionCount(), 1);
    EXPECT_EQ(Section->KeyCount(), 1);
}

TEST(IniModel, ValuesExtendsTheKeyWithQuotedEmptyStrings) {
    TVeskIni Ini;
    TVeskIniKey* Key = Ini.Section(u"s")->Key(u"k");
    Key->AddRaw(u"first");
    TVeskIniValue* Fourth = Key->Values(3);
    EXPECT_EQ(Key->ValueCount(), 4);
    EXPECT_EQ(Fourth, Key->ValueList()->At(3));
    EXPECT_EQ(ValueTexts(*Key), TLines({u"first", u"\"\"", u"\"\"", u"\"\""}));
    EXPECT_EQ(Key->Values(1), Key->ValueList()->At(1));
    EXPECT_EQ(Key->ValueCount(), 4);
}

TEST(IniModel, FirstValueCreatesTheDefaultOnlyOnAKeyWithoutValues) {
    TVeskIni Ini;
    TVeskIniKey* Empty = Ini.Section(u"s")->Key(u"empty");
    TVeskIniValue* Created = Empty->FirstValue(7);
    EXPECT_EQ(Created->Text, u"7");
    EXPECT_EQ(ValueTexts(*Empty), TLines({u"7"}));

    TVeskIniKey* Held = Ini.Section(u"s")->Key(u"held");
    Held->AddRaw(u"not a number");
    Held->AddRaw(u"2");
    EXPECT_EQ(Held->FirstValue(7), Held->ValueList()->At(0));
    EXPECT_EQ(ValueTexts(*Held), TLines({u"not a number", u"2"}));
}

TEST(IniModel, AddOperationsStoreTheirTextAndReturnThePreviousCount) {
    struct TCase {
        int32_t (*Add)(TVeskIniKey&);
        TVeskWideString Text;
    };
    const std::vector<TCase> Cases = {
        {[](TVeskIniKey& K) { return K.AddString(u""); }, u"\"\""},
        {[](TVeskIniKey& K) { return K.AddString(u"a\"b,c"); }, u"\"a\"b,c\""},
        {[](TVeskIniKey& K) { return K.AddRaw(u""); }, u""},
        {[](TVeskIniKey& K) { return K.AddRaw(u" \"raw\" "); }, u" \"raw\" "},
        {[](TVeskIniKey& K) { return K.AddInteger(-5); }, u"-5"},
        {[](TVeskIniKey& K) { return K.AddInteger(0); }, u"0"},
        {[](TVeskIniKey& K) { return K.AddInteger(INT32_MIN); }, u"-2147483648"},
        {[](TVeskIniKey& K) { return K.AddInteger(INT32_MAX); }, u"2147483647"},
    };
    TVeskIni Ini;
    TVeskIniKey* Key = Ini.Section(u"s")->Key(u"k");
    for (size_t I = 0; I < Cases.size(); ++I) {
        EXPECT_EQ(Cases[I].Add(*Key), static_cast<int32_t>(I));
        EXPECT_EQ(Key->ValueList()->At(static_cast<int32_t>(I))->Text, Cases[I].Text);
    }
    TVeskIniValue* Value = Key->Values(0);
    Value->SetInteger(-12);
    EXPECT_EQ(Value->Text, u"-12");
    Value->SetString(u"x");
    EXPECT_EQ(Value->Text, u"\"x\"");
}

TEST(IniModel, AsIntegerReadsIntegersAndRepairsEverythingElseToZero) {
    struct TCase {
        TVeskWideString Text;
        int32_t Result;
    };
    const std::vector<TCase> Integers = {
        {u"12", 12},
        {u"   12", 12},
        {u"+3", 3},
        {u"-0", 0},
        {u"0", 0},
        {u"012", 12},
        {u"$1F", 31},
        {u"0x1F", 31},
        {u"0X1f", 31},
        {u"X1f", 31},
        {u"x1f", 31},
        {u"-$10", -16},
        {u"-$1", -1},
        {u"$FFFFFFFF", -1},
        {u"-$FFFFFFFF", 1},
        {u"$80000000", INT32_MIN},
        {u"-$80000000", INT32_MIN},
        {u"$000000000001", 1},
        {u"2147483647", INT32_MAX},
        {u"-2147483648", INT32_MIN},
        {u"000000000002147483647", INT32_MAX},
        {TVeskWideString(u"12\0junk", 7), 12},
    };
    for (const TCase& Case : Integers) {
        TVeskIniValue Value(nullptr);
        Value.Text = Case.Text;
        EXPECT_EQ(Value.AsInteger(), Case.Result) << testing::PrintToString(Case.Text);
        EXPECT_EQ(Value.Text, Case.Text) << "left as it was";
    }
    const std::vector<TVeskWideString> NotIntegers = {
        u"2147483648",
        u"-2147483649",
        u"4294967296",
        u"$100000000",
        u"",
        u"   ",
        u"12 ",
        u"1 2",
        u"- 1",
        u"--1",
        u"+-1",
        u"1.0",
        u"\t12",
        u"$",
        u"0x",
        u"x",
        u"-",
        u"\"2\"",
        u"$-1",
        u"$1G",
        u"0x0x1",
        u"$ 1",
        u"\uFF11\uFF12",
        TVeskWideString(u"\0"
                        "12",
                        3),
    };
    for (const TVeskWideString& Text : NotIntegers) {
        TVeskIniValue Value(nullptr);
        Value.Text = Text;
        EXPECT_EQ(Value.AsInteger(), 0) << testing::PrintToString(Text);
        EXPECT_EQ(Value.Text, u"0") << testing::PrintToString(Text);
    }
}

TEST(IniModel, FreeingAValueTakesItOutOfItsKey) {
    TVeskIni Ini;
    TVeskIniKey* Key = Ini.Section(u"s")->Key(u"k");
    Key->AddRaw(u"a");
    Key->AddRaw(u"b");
    Key->AddRaw(u"c");
    TVeskIniValue* Third = Key->Values(2);
    delete Key->Values(1);
    EXPECT_EQ(ValueTexts(*Key), TLines({u"a", u"c"}));
    EXPECT_EQ(Key->Values(1), Third);
    delete Key->Values(0);
    delete Key->Values(0);
    EXPECT_EQ(Key->ValueCount(), 0);
    EXPECT_EQ(Key->ValueList(), nullptr);
    Key->Clear();
    EXPECT_EQ(Key->ValueList(), nullptr);
}

TEST(IniModel, SetOwnerMovesAValueBetweenKeys) {
    TVeskIni Ini;
    TVeskIniKey* From = Ini.Section(u"s")->Key(u"from");
    TVeskIniKey* To = Ini.Section(u"s")->Key(u"to");
    From->AddRaw(u"a");
    From->AddRaw(u"b");
    To->AddRaw(u"c");

    // The present owner again: the value keeps its place.
    From->Values(0)->SetOwner(From);
    EXPECT_EQ(ValueTexts(*From), TLines({u"a", u"b"}));

    From->Values(0)->SetOwner(To);
    EXPECT_EQ(ValueTexts(*From), TLines({u"b"}));
    EXPECT_EQ(ValueTexts(*To), TLines({u"c", u"a"}));
    EXPECT_EQ(To->Values(1)->Owner(), To);

    // The last value leaving releases the key's list.
    From->Values(0)->SetOwner(To);
    EXPECT_EQ(From->ValueList(), nullptr);
    EXPECT_EQ(ValueTexts(*To), TLines({u"c", u"a", u"b"}));

    TVeskIniValue* Detached = To->Values(0);
    Detached->SetOwner(nullptr);
    Detached->SetOwner(nullptr);
    EXPECT_EQ(Detached->Owner(), nullptr);
    EXPECT_EQ(ValueTexts(*To), TLines({u"a", u"b"}));
    Detached->SetOwner(From);
    EXPECT_EQ(ValueTexts(*From), TLines({u"c"}));
}

TEST(IniModel, SetOwnerMovesAKeyWithItsValuesAndASectionWithItsKeys) {
    TVeskIni First;
    TVeskIni Second;
    TVeskIniSection* Section = First.Section(u"s");
    TVeskIniKey* Key = Section->Key(u"k");
    Key->AddRaw(u"v");
    Key->SetOwner(Second.Section(u"t"));
    EXPECT_EQ(Section->KeyList(), nullptr);
    EXPECT_EQ(Second.Section(u"t")->Key(u"k"), Key);
    Section->SetOwner(&Second);
    EXPECT_EQ(First.SectionList(), nullptr);
    EXPECT_EQ(Second.Sections(1), Section);
    EXPECT_EQ(ValueTexts(*Key), TLines({u"v"}));
}

// Every object notes, as it is freed, its name and whether it is at the front of its
// owner's list, and whether that owner is still there to hold it.
std::vector<std::string>* Notes = nullptr;

std::string Plain(const TVeskWideString& Text) {
    return std::string(Text.begin(), Text.end());
}

class TNotingValue : public TVeskIniValue {
public:
    TNotingValue(TVeskIniKey* Owner, const char* Name) : TVeskIniValue(Owner) {
        Text = u"v";
        FName = Name;
    }
    ~TNotingValue() override {
        Notes->push_back(FName + (Owner()->ValueList()->At(0) == this ? "@0" : "@?"));
    }

private:
    std::string FName;
};

class TNotingKey : public TVeskIniKey {
public:
    using TVeskIniKey::TVeskIniKey;
    ~TNotingKey() override {
        Notes->push_back(Plain(Name()) + (Owner()->KeyList()->At(0) == this ? "@0" : "@?"));
    }
};

class TNotingSection : public TVeskIniSection {
public:
    using TVeskIniSection::TVeskIniSection;
    ~TNotingSection() override {
        Notes->push_back(Plain(Name()) + (Owner()->SectionList()->At(0) == this ? "@0" : "@?"));
    }
};

TEST(IniModel, FreeingADocumentGoesDepthFirstAndFrontToBack) {
    std::vector<std::string> Noted;
    Notes = &Noted;
    auto* Ini = new TVeskIni;
    const std::vector<std::pair<const char16_t*, std::vector<const char16_t*>>> Tree = {
        {u"s0", {u"k0a", u"k1a"}}, {u"s1", {u"k0b", u"k1b"}}};
    for (const auto& [SectionName, KeyNames] : Tree) {
        auto* Section = new TNotingSection(Ini, SectionName);
        for (const char16_t* KeyName : KeyNames) {
            auto* Key = new TNotingKey(Section, KeyName);
            new TNotingValue(Key, "v0");
            new TNotingValue(Key, "v1");
        }
    }
    delete Ini;
    Notes = nullptr;
    // Each object starts to go before its children, and its children go before it is
    // released: a key's values are noted while the key still stands in its section.
    EXPECT_EQ(Noted,
              std::vector<std::string>({"s0@0", "k0a@0", "v0@0", "v1@0", "k1a@0", "v0@0", "v1@0",
                                        "s1@0", "k0b@0", "v0@0", "v1@0", "k1b@0", "v0@0", "v1@0"}));
}

TEST(IniModel, ClearOnAnEmptyOwnerDoesNothing) {
    TVeskIni Ini;
    Ini.Clear();
    EXPECT_EQ(Ini.SectionList(), nullptr);
    TVeskIniSection* Section = Ini.Section(u"s");
    Section->Clear();
    EXPECT_EQ(Section->KeyList(), nullptr);
    Section->Key(u"k");
    Ini.Clear();
    EXPECT_EQ(Ini.SectionCount(), 0);
    EXPECT_EQ(Ini.SectionList(), nullptr);
}

} // namespace
