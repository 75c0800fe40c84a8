#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "IniTestSupport.h"
#include "VeskIni.h"

namespace {

std::string Golden(const std::string& Name) {
    return std::string(VESK_INI_GOLDEN_DIR "/") + Name;
}

// Bytes in, document, bytes out: what a load and a save of a settings file do, without files.
TBytes LoadAndSave(const TBytes& Input, int Loads) {
    TVeskIni Ini;
    for (int I = 0; I < Loads; ++I) {
        TVeskWideStringList Lines;
        LoadBytes(Lines, Input);
        Ini.LoadFromStrings(Lines);
    }
    TVeskWideStringList Lines;
    Ini.SaveToStrings(Lines);
    TVeskMemoryStream Stream;
    Lines.SaveToStream(Stream);
    return BytesOf(Stream);
}

TEST(IniTextFormat, LoadThenSaveGivesTheGoldenBytes) {
    struct TCase {
        const char* Input;
        const char* Expected;
        int Loads;
    };
    const std::vector<TCase> Cases = {
        {"line-kinds.input.ini", "line-kinds.expected.ini", 1},
        {"settings-example.input.ini", "settings-example.expected.ini", 1},
        {"settings-example-mixed-ends.input.ini", "settings-example.expected.ini", 1},
        {"settings-example.input.ini", "settings-example-twice.expected.ini", 2},
        {"no-sections.input.ini", "no-sections.expected.ini", 1},
    };
    for (const TCase& Case : Cases) {
        SCOPED_TRACE(Case.Input);
        const TBytes Input = ReadBinaryFile(Golden(Case.Input));
        const TBytes Expected = ReadBinaryFile(Golden(Case.Expected));
        ASSERT_FALSE(Input.empty());
        ASSERT_FALSE(Expected.empty());
        EXPECT_EQ(LoadAndSave(Input, Case.Loads), Expected);
    }
}

TEST(IniTextFormat, NormalisedSettingsStayAsTheyAreOnASecondSave) {
    const TBytes Saved = ReadBinaryFile(Golden("settings-example.expected.ini"));
    EXPECT_EQ(LoadAndSave(Saved, 1), Saved);
}

TEST(IniTextFormat, SettingsExampleLoadsIntoItsSectionsKeysAndValues) {
    TVeskIni Ini;
    TVeskWideStringList Lines;
    LoadBytes(Lines, ReadBinaryFile(Golden("settings-example.input.ini")));
    Ini.LoadFromStrings(Lines);

    ASSERT_EQ(Ini.SectionCount(), 2);
    EXPECT_EQ(Ini.Sections(0)->Name(), u"VeskTrayServer");
    EXPECT_EQ(Ini.Sections(1)->Name(), u" Other ");
    TVeskIniKey* Method = Ini.Sections(0)->Keys(0);
    EXPECT_EQ(Method->Name(), u"Registration Method");
    EXPECT_EQ(Method->ValueCount(), 2);
    TVeskIniSection* Other = Ini.Sections(1);
    ASSERT_EQ(Other->KeyCount(), 2);
    EXPECT_EQ(Other->Keys(0)->ValueCount(), 3);
    EXPECT_EQ(Other->Keys(1)->Name(), u"flag");
    EXPECT_EQ(Other->Keys(1)->Values(0)->Text, u"");

    // The way the server reads its start mode.
    EXPECT_EQ(
        Ini.Section(u"VeskTrayServer")->Key(u"Registration Method")->FirstValue(0)->AsInteger(), 2);
    EXPECT_EQ(Ini.SectionCount(), 2);
}

struct TKeyLine {
    TVeskWideString Line;
    TVeskWideString Name;
    TLines Values;
};

TEST(IniTextFormat, KeyLineGivesItsNameAndValues) {
    const std::vector<TKeyLine> Cases = {
        {u"   ", u"", {u""}},
        {u"[]", u"[]", {u""}},
        {u" [a]", u"[a]", {u""}},
        {u"[a] ", u"[a]", {u""}},
        {u"[a]=x", u"[a]", {u"x"}},
        {u"k", u"k", {u""}},
        {u"k=", u"k", {u""}},
        {u"=v", u"", {u"v"}},
        {u"k = a , b", u"k", {u"a", u"b"}},
        {u"k=a,", u"k", {u"a"}},
        {u"k=,", u"k", {u""}},
        {u"k=a, ", u"k", {u"a", u""}},
        {u"k=a,,b", u"k", {u"a", u"", u"b"}},
        {u"k=a=b", u"k", {u"a=b"}},
        {u"k=\"x,y\"", u"k", {u"\"x", u"y\""}},
        {u";note", u";note", {u""}},
        {u"\x01k\x1f=\x7f v\xa0 ", u"k", {u"\x7f v\xa0"}},
    };
    for (const TKeyLine& Case : Cases) {
        SCOPED_TRACE(testing::PrintToString(Case.Line));
        TVeskIni Ini;
        TVeskWideStringList Lines;
        AddLines(Lines, {u"[s]", Case.Line});
        Ini.LoadFromStrings(Lines);
        ASSERT_EQ(Ini.SectionCount(), 1);
        ASSERT_EQ(Ini.Sections(0)->KeyCount(), 1);
        TVeskIniKey* Key = Ini.Sections(0)->Keys(0);
        EXPECT_EQ(Key->Name(), Case.Name);
        TLines Values;
        for (int32_t I = 0; I < Key->ValueCount(); ++I) {
            Values.push_back(Key->Values(I)->Text);
        }
        EXPECT_EQ(Values, Case.Values);
    }
}

TEST(IniTextFormat, HeaderNeedsThreeUnitsBetweenBracketsAndKeepsItsBlanks) {
    const std::vector<std::pair<TVeskWideString, TVeskWideString>> Cases = {
        {u"[a]", u"a"}, {u"[ a ]", u" a "}, {u"[a=b]", u"a=b"}, {u"[[]]", u"[]"}, {u"[]]", u"]"}};
    for (const auto& [Line, Name] : Cases) {
        TVeskIni Ini;
        TVeskWideStringList Lines;
        AddLines(Lines, {Line});
        Ini.LoadFromStrings(Lines);
        ASSERT_EQ(Ini.SectionCount(), 1) << testing::PrintToString(Line);
        EXPECT_EQ(Ini.Sections(0)->Name(), Name);
        EXPECT_EQ(Ini.Sections(0)->KeyCount(), 0);
    }
}

TEST(IniTextFormat, LoadingMergesIntoWhatTheDocumentHolds) {
    TVeskIni Ini;
    Ini.Section(u"late")->Key(u"k")->AddRaw(u"0");
    TVeskWideStringList Lines;
    AddLines(Lines, {u"[early]", u"k=1", u"[late]", u"k=2", u"j=3", u"[early]", u"k=4"});
    Ini.LoadFromStrings(Lines);
    TVeskWideStringList Saved;
    Saved.Add(u"kept", 0);
    Ini.SaveToStrings(Saved);
    EXPECT_EQ(LinesOf(Saved),
              TLines({u"kept", u"[late]", u"k = 0,2", u"j = 3", u"", u"[early]", u"k = 1,4"}));
    EXPECT_EQ(LinesOf(Lines).size(), 7u);
}

TEST(IniTextFormat, SectionOfManyKeysStillMergesIntoTheFirstKeyOfEachName) {
    TVeskIni Ini;
    TVeskIniSection* Big = Ini.Section(u"big");
    // Two keys of one name before the load: the first one takes the values.
    auto* First = new TVeskIniKey(Big, u"k005");
    auto* Second = new TVeskIniKey(Big, u"k005");
    TVeskWideStringList Lines;
    Lines.Add(u"[big]", 0);
    for (int I = 0; I < 100; ++I) {
        const std::string Line = "k" +
                                 std::string(I < 10    ? "00"
                                             : I < 100 ? "0"
                                                       : "") +
                                 std::to_string(I) + "=" + std::to_string(I);
        Lines.Add(TVeskWideString(Line.begin(), Line.end()), 0);
    }
    AddLines(Lines,
             {u"[other]", u"k005=elsewhere", u"[big]", u"k099=again", u"k005=again", u"k100=new"});
    Ini.LoadFromStrings(Lines);

    EXPECT_EQ(Ini.SectionCount(), 2);
    EXPECT_EQ(Big->KeyCount(), 102);
    EXPECT_EQ(Big->Keys(0), First);
    EXPECT_EQ(Big->Keys(1), Second);
    EXPECT_EQ(Second->ValueCount(), 0);
    ASSERT_EQ(First->ValueCount(), 2);
    EXPECT_EQ(First->Values(0)->Text, u"5");
    EXPECT_EQ(First->Values(1)->Text, u"again");
    TVeskIniKey* Last = Big->Key(u"k099");
    ASSERT_EQ(Last->ValueCount(), 2);
    EXPECT_EQ(Last->Values(1)->Text, u"again");
    EXPECT_EQ(Big->Keys(101)->Name(), u"k100");
    EXPECT_EQ(Ini.Section(u"other")->Key(u"k005")->Values(0)->Text, u"elsewhere");
}

TEST(IniTextFormat, EachLoadStartsOutsideAnySection) {
    TVeskIni Ini;
    TVeskWideStringList First;
    AddLines(First, {u"[s]", u"a=1"});
    Ini.LoadFromStrings(First);
    TVeskWideStringList Second;
    AddLines(Second, {u"b=2"});
    Ini.LoadFromStrings(Second);
    EXPECT_EQ(Ini.Sections(0)->KeyCount(), 1);
}

TEST(IniTextFormat, SaveWritesTheFixedLayout) {
    struct TCase {
        const char* What;
        void (*Build)(TVeskIni&);
        TLines Lines;
    };
    const std::vector<TCase> Cases = {
        {"empty document", [](TVeskIni&) {}, {}},
        {"first start without a settings file",
         [](TVeskIni& Ini) {
             Ini.Section(u"VeskTrayServer")->Key(u"Registration Method")->FirstValue(0);
         },
         {u"[VeskTrayServer]", u"Registration Method = 0"}},
        {"key without values, empty names, nothing quoted",
         [](TVeskIni& Ini) {
             Ini.Section(u"")->Key(u"");
             Ini.Section(u"q")->Key(u" k,=")->AddString(u"a,b");
             Ini.Section(u"q")->Key(u" k,=")->AddRaw(u"");
         },
         {u"[]", u" = ", u"", u"[q]", u" k,= = \"a,b\","}},
        {"sections without keys",
         [](TVeskIni& Ini) {
             Ini.Section(u"a");
             Ini.Section(u"b");
         },
         {u"[a]", u"", u"[b]"}},
    };
    for (const TCase& Case : Cases) {
        TVeskIni Ini;
        Case.Build(Ini);
        TVeskWideStringList Lines;
        Ini.SaveToStrings(Lines);
        EXPECT_EQ(LinesOf(Lines), Case.Lines) << Case.What;
    }
}

} // namespace
