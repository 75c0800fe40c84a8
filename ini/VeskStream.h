// The byte streams the wide string list reads and writes its files through.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

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
