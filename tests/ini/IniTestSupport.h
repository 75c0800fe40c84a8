// Small helpers the INI tests share: bytes in and out of a list, and lines as plain vectors.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "VeskFailureOf.h"
#include "VeskIni.h"

using TBytes = std::vector<uint8_t>;
using TLines = std::vector<TVeskWideString>;

inline TLines LinesOf(const TVeskWideStringList& List) {
    TLines Lines;
    for (int32_t I = 0; I < List.Count(); ++I) {
        Lines.push_back(List.Strings(I));
    }
    return Lines;
}

inline void AddLines(TVeskWideStringList& List, const TLines& Lines) {
    for (const TVeskWideString& Line : Lines) {
        List.Add(Line, 0);
    }
}

inline TBytes BytesOf(const TVeskMemoryStream& Stream) {
    return TBytes(Stream.Memory(), Stream.Memory() + Stream.Size());
}

inline TBytes Encode(const TLines& Lines) {
    TVeskWideStringList List;
    AddLines(List, Lines);
    TVeskMemoryStream Stream;
    List.SaveToStream(Stream);
    return BytesOf(Stream);
}

inline void LoadBytes(TVeskWideStringList& List, const TBytes& Bytes) {
    TVeskMemoryStream Stream;
    Stream.WriteBuffer(Bytes.data(), Bytes.size());
    Stream.SetPosition(0);
    List.LoadFromStream(Stream);
}

inline TLines Decode(const TBytes& Bytes) {
    TVeskWideStringList List;
    LoadBytes(List, Bytes);
    return LinesOf(List);
}

inline TBytes ReadBinaryFile(const std::string& Path) {
    std::ifstream File(Path, std::ios::binary);
    return TBytes(std::istreambuf_iterator<char>(File), std::istreambuf_iterator<char>());
}

using VeskTest::FailureOf;
