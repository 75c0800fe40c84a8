// Wide INI library: a list of UTF-16 lines with its own file encoding, and an INI document
// (document, sections, multi-valued keys, values) with its own line syntax.
//
// Every object is created with new and freed with delete; an owner frees what it owns, and
// freeing an owned object first takes it out of its owner's list. An owner's list exists only
// while it holds at least one object.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "VeskOwnedList.h"
#include "VeskStream.h"

// Any 16-bit code unit is allowed, U+0000 and lone surrogates included.
using TVeskWideString = std::u16string;

// Between wide strings and the platform's 8-bit text (file names, registry values), through
// the thread's ANSI code page; a unit without a counterpart becomes its default character.
// Defined with the file operations, in the Windows build only.
TVeskWideString VeskAnsiToWide(const std::string& Text);
std::string VeskWideToAnsi(const TVeskWideString& Text);

// ---------------------------------------------------------------------------------------------
// Wide string list

class TVeskWideStringList;

class TVeskWideStringListItem {
public:
    TVeskWideStringListItem(TVeskWideStringList* Owner, TVeskWideString Text, int32_t Data);
    virtual ~TVeskWideStringListItem();
    TVeskWideStringListItem(const TVeskWideStringListItem&) = delete;
    TVeskWideStringListItem& operator=(const TVeskWideStringListItem&) = delete;

    void SetOwner(TVeskWideStringList* NewOwner);
    TVeskWideStringList* Owner() const { return FOwner; }
    const TVeskWideString& Text() const { return FText; }
    int32_t Data() const { return FData; }

private:
    TVeskWideStringList* FOwner = nullptr;
    TVeskWideString FText;
    int32_t FData = 0;
};

class TVeskWideStringList {
public:
    TVeskWideStringList() = default;
    virtual ~TVeskWideStringList();
    TVeskWideStringList(const TVeskWideStringList&) = delete;
    TVeskWideStringList& operator=(const TVeskWideStringList&) = delete;

    int32_t Add(TVeskWideString Text, int32_t Data);
    void Clear();
    int32_t Count() const { return FItemList ? FItemList->Count() : 0; }
    TVeskWideStringListItem* Items(int32_t Index) const;
    TVeskWideString Strings(int32_t Index) const;
    // Absent exactly while the list holds no item.
    const TVeskOwnedList<TVeskWideStringListItem>* ItemList() const {
        return FItemList ? &*FItemList : nullptr;
    }

    void LoadFromStream(TVeskStream& Stream);
    void SaveToStream(TVeskStream& Stream) const;
    void LoadFromFile(const TVeskWideString& FileName);
    void SaveToFile(const TVeskWideString& FileName) const;

private:
    friend class TVeskWideStringListItem;
    TVeskOwnedListSlot<TVeskWideStringListItem> FItemList;
};

// ---------------------------------------------------------------------------------------------
// INI document

class TVeskIni;
class TVeskIniSection;
class TVeskIniKey;

class TVeskIniValue {
public:
    explicit TVeskIniValue(TVeskIniKey* Owner);
    virtual ~TVeskIniValue();
    TVeskIniValue(const TVeskIniValue&) = delete;
    TVeskIniValue& operator=(const TVeskIniValue&) = delete;

    void SetOwner(TVeskIniKey* NewOwner);
    TVeskIniKey* Owner() const { return FOwner; }

    // Reads the text as an integer; a text that is not one is repaired to "0".
    int32_t AsInteger();
    void SetInteger(int32_t Value);
    void SetString(const TVeskWideString& Value);

    // Stored exactly as the file has it, quotes included.
    TVeskWideString Text;

private:
    TVeskIniKey* FOwner = nullptr;
};

class TVeskIniKey {
public:
    TVeskIniKey(TVeskIniSection* Owner, TVeskWideString Name);
    virtual ~TVeskIniKey();
    TVeskIniKey(const TVeskIniKey&) = delete;
    TVeskIniKey& operator=(const TVeskIniKey&) = delete;

    void SetOwner(TVeskIniSection* NewOwner);
    TVeskIniSection* Owner() const { return FOwner; }
    const TVeskWideString& Name() const { return FName; }

    void Clear();
    int32_t ValueCount() const { return FValueList ? FValueList->Count() : 0; }
    // Extends the key with "" values up to Index first.
    TVeskIniValue* Values(int32_t Index);
    int32_t AddString(const TVeskWideString& Text);
    int32_t AddInteger(int32_t Value);
    int32_t AddRaw(TVeskWideString Text);
    TVeskIniValue* FirstValue(int32_t Default);
    const TVeskOwnedList<TVeskIniValue>* ValueList() const {
        return FValueList ? &*FValueList : nullptr;
    }

private:
    friend class TVeskIniValue;
    TVeskOwnedListSlot<TVeskIniValue> FValueList;
    TVeskIniSection* FOwner = nullptr;
    TVeskWideString FName;
};

class TVeskIniSection {
public:
    TVeskIniSection(TVeskIni* Owner, TVeskWideString Name);
    virtual ~TVeskIniSection();
    TVeskIniSection(const TVeskIniSection&) = delete;
    TVeskIniSection& operator=(const TVeskIniSection&) = delete;

    void SetOwner(TVeskIni* NewOwner);
    TVeskIni* Owner() const { return FOwner; }
    const TVeskWideString& Name() const { return FName; }

    void Clear();
    int32_t KeyCount() const { return FKeyList ? FKeyList->Count() : 0; }
    TVeskIniKey* Keys(int32_t Index) const;
    int32_t IndexOfKey(std::u16string_view Name) const;
    int32_t AddKey(std::u16string_view Name);
    TVeskIniKey* Key(std::u16string_view Name);
    const TVeskOwnedList<TVeskIniKey>* KeyList() const { return FKeyList ? &*FKeyList : nullptr; }

private:
    friend class TVeskIniKey;
    TVeskIni* FOwner = nullptr;
    TVeskOwnedListSlot<TVeskIniKey> FKeyList;
    TVeskWideString FName;
};

class TVeskIni {
public:
    TVeskIni() = default;
    virtual ~TVeskIni();
    TVeskIni(const TVeskIni&) = delete;
    TVeskIni& operator=(const TVeskIni&) = delete;

    void Clear();
    int32_t SectionCount() const { return FSectionList ? FSectionList->Count() : 0; }
    TVeskIniSection* Sections(int32_t Index) const;
    int32_t IndexOfSection(std::u16string_view Name) const;
    int32_t AddSection(std::u16string_view Name);
    TVeskIniSection* Section(std::u16string_view Name);
    const TVeskOwnedList<TVeskIniSection>* SectionList() const {
        return FSectionList ? &*FSectionList : nullptr;
    }

    // Merges the lines into what the document holds; never fails on content.
    void LoadFromStrings(const TVeskWideStringList& Lines);
    // Appends the normalised lines; the list is not cleared first.
    void SaveToStrings(TVeskWideStringList& Lines) const;
    void LoadFromFile(const TVeskWideString& FileName);
    void SaveToFile(const TVeskWideString& FileName) const;

private:
    friend class TVeskIniSection;
    TVeskOwnedListSlot<TVeskIniSection> FSectionList;
};
