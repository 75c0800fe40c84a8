#include "VeskStream.h"

#include <cstring>
#include <new>

#include "VeskError.h"

void TVeskStream::ReadBuffer(void* Buffer, size_t Count) {
    if (Count != 0 && Read(Buffer, Count) != Count) {
        throw EVeskError("Stream read error");
    }
}

void TVeskStream::WriteBuffer(const void* Buffer, size_t Count) {
    if (Count != 0 && Write(Buffer, Count) != Count) {
        throw EVeskError("Stream write error");
    }
}

void TVeskMemoryStream::SetPosition(int64_t Position) {
    FPosition = Position < 0 ? 0 : Position;
}

void TVeskMemoryStream::Reserve(int64_t Needed) {
    if (Needed <= FCapacity) {
        return;
    }
    if (Needed > MaxSize) {
        throw EVeskError("Out of memory while expanding memory stream");
    }
    // Doubling keeps a long run of small writes linear.
    int64_t NewCapacity = FCapacity < 256 ? 256 : FCapacity * 2;
    if (NewCapacity < Needed) {
        NewCapacity = Needed;
    }
    if (NewCapacity > MaxSize) {
        NewCapacity = MaxSize;
    }
    std::unique_ptr<uint8_t[]> NewMemory(new (std::nothrow)
                                             uint8_t[static_cast<size_t>(NewCapacity)]);
    if (!NewMemory) {
        throw EVeskError("Out of memory while expanding memory stream");
    }
    if (FSize > 0) {
        std::memcpy(NewMemory.get(), FMemory.get(), static_cast<size_t>(FSize));
    }
    FMemory = std::move(NewMemory);
    FCapacity = NewCapacity;
}

void TVeskMemoryStream::SetSize(int64_t NewSize) {
    if (NewSize < 0) {
        NewSize = 0;
    }
    Reserve(NewSize);
    if (NewSize > FSize) {
        std::memset(FMemory.get() + FSize, 0, static_cast<size_t>(NewSize - FSize));
    }
    FSize = NewSize;
}

uint8_t* TVeskMemoryStream::Advance(size_t Count) {
    if (FPosition > MaxSize ||
        static_cast<uint64_t>(Count) > static_cast<uint64_t>(MaxSize - FPosition)) {
        throw EVeskError("Out of memory while expanding memory stream");
    }
    const int64_t End = FPosition + static_cast<int64_t>(Count);
    if (End > FSize) {
        SetSize(End);
    }
    uint8_t* Start = FMemory.get() + FPosition;
    FPosition = End;
    return Start;
}

size_t TVeskMemoryStream::Read(void* Buffer, size_t Count) {
    if (FPosition >= FSize || Count == 0) {
        return 0;
    }
    const int64_t Available = FSize - FPosition;
    const size_t Taken =
        static_cast<int64_t>(Count) < Available ? Count : static_cast<size_t>(Available);
    std::memcpy(Buffer, FMemory.get() + FPosition, Taken);
    FPosition += static_cast<int64_t>(Taken);
    return Taken;
}

size_t TVeskMemoryStream::Write(const void* Buffer, size_t Count) {
    if (Count == 0) {
        return 0;
    }
    std::memcpy(Advance(Count), Buffer, Count);
    return Count;
}
