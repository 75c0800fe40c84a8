// The ordered list an owner keeps of what it owns, and the one way an owned object changes
// owner: the owned-list pattern that the wide string list and the INI document share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

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
