// Wide INI library: a list of UTF-16 lines with its own file encoding, and an INI document
// (document, sections, multi-valued keys, values) with its own line syntax.
//
// Every object is created with new and freed with delete; an owner frees what it owns, and
// freeing an owned object first takes it out of its owner's list. An owner's list exists only
// while it holds at least one object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Any 16-bit code unit is allowed, U+0000 and lone surrogates included.
using TVeskWideString = std::u16string;

// Between wide strings and the platform's 8-bit text (file names, registry values), through
// the thread's ANSI code page; a unit without a counterpart becomes its default character.
// Defined with the file operations, in the Windows build only.
TVeskWideString VeskAnsiToWide(const std::string& Text);
std::string VeskWideToAnsi(const TVeskWideString& Text);

// ---------------------------------------------------------------------------------------------
// Streams

class TVeskStream {
public:
    virtual ~TVeskStream() = default;
    virtual int64_t Size() const = 0;
    virtual int64_t Position() const = 0;
    virtual void SetPosition(int64_t Position) = 0;
    // Both return how many bytes were moved, which may be fewer than asked.
    virtual size_t Read(void* Buffer, size_t Count) = 0;
    virtual size_t Write(const void* Buffer, size_t Count) = 0;

    // All or nothing: "Stream read error" / "Stream write error" when short.
    void ReadBuffer(void* Buffer, size_t Count);
    void WriteBuffer(const void* Buffer, size_t Count);
};

// Grows as it is written; a position past the end reads nothing and pads with zeros on write.
class TVeskMemoryStream final : public TVeskStream {
public:
    // Beyond this size memory is never asked for: counts in this library are 32-bit.
    static constexpr int64_t MaxSize = INT32_MAX;

    int64_t Size() const override { return FSize; }
    int64_t Position() const override { return FPosition; }
    void SetPosition(int64_t Position) override;
    size_t Read(void* Buffer, size_t Count) override;
    size_t Write(const void* Buffer, size_t Count) override;

    // Changes the size; new bytes are zero. Keeps the position.
    void SetSize(int64_t NewSize);
    // Makes the next Count bytes at the position writable in place, moves the position past
    // them and returns where they start: the encoder writes straight into the stream.
    uint8_t* Advance(size_t Count);
    uint8_t* Memory() { return FMemory.get(); }
    const uint8_t* Memory() const { return FMemory.get(); }

private:
    void Reserve(int64_t Needed);

    std::unique_ptr<uint8_t[]> FMemory;
    int64_t FCapacity = 0;
    int64_t FSize = 0;
    int64_t FPosition = 0;
};

// ---------------------------------------------------------------------------------------------
// The ordered list an owner keeps of what it owns.

[[noreturn]] void VeskListIndexError(int32_t Index);

template <class T> class TVeskOwnedList {
public:
    int32_t Count() const { return static_cast<int32_t>(FItems.size() - FHead); }
    T* At(int32_t Index) const { return FItems[FHead + static_cast<size_t>(Index)]; }

    // Makes room for one more, so that the Append that follows cannot fail.
    void ReserveOne() {
        if (FItems.size() == FItems.capacity()) {
            Compact();
            FItems.reserve(FItems.size() < 4 ? 4 : FItems.size() * 2);
        }
    }
    void Append(T* Item) { FItems.push_back(Item); }

    // First occurrence by identity; the ones behind move down one place.
    void Remove(T* Item) {
        for (size_t I = FHead; I < FItems.size(); ++I) {
            if (FItems[I] != Item) {
                continue;
            }
            if (I == FHead) {
                // Owners are cleared from the front: make that step cheap.
                FItems[FHead++] = nullptr;
            } else {
                FItems.erase(FItems.begin() + static_cast<std::ptrdiff_t>(I));
            }
            return;
        }
    }

private:
    void Compact() {
        if (FHead > 0) {
            FItems.erase(FItems.begin(), FItems.begin() + static_cast<std::ptrdiff_t>(FHead));
            FHead = 0;
        }
    }

    std::vector<T*> FItems;
    size_t FHead = 0;
};

// An owner's list of what it owns: none while it owns nothing. Held in place rather than on the
// heap, so that a key with a value or two costs no allocation for the list object itself.
template <class T> using TVeskOwnedListSlot = std::optional<TVeskOwnedList<T>>;

// The one way an owned object changes owner, for all the owned-list pairs below.
template <class TOwned, class TOwner>
void VeskMoveOwned(TOwned* Object, TOwner*& Owner, TOwner* NewOwner,
                   TVeskOwnedListSlot<TOwned>& (*ListOf)(TOwner&)) {
    if (NewOwner == Owner) {
        return;
    }
    // Everything that can fail happens before the object leaves its present owner.
    if (NewOwner != nullptr) {
        TVeskOwnedListSlot<TOwned>& NewList = ListOf(*NewOwner);
        if (NewList) {
            NewList->ReserveOne();
        } else {
            TVeskOwnedList<TOwned> Fresh;
            Fresh.ReserveOne();
            NewList.emplace(std::move(Fresh));
        }
    }
    if (Owner != nullptr) {
        TVeskOwnedListSlot<TOwned>& OldList = ListOf(*Owner);
        OldList->Remove(Object);
        if (OldList->Count() <= 0) {
            OldList.reset();
        }
    }
    Owner = NewOwner;
    if (NewOwner != nullptr) {
        ListOf(*NewOwner)->Append(Object);
    }
}

// Frees the first object until none is left; each one's destructor takes it out of the list.
template <class TOwned> void VeskFreeOwned(TVeskOwnedListSlot<TOwned>& List) {
    while (List) {
        delete List->At(0);
    }
}

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
