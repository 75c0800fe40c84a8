#include "VeskTrayServerInterface.h"

bool OpenSharedRegion(HANDLE& mapping, void*& view) {
    mapping = nullptr;
    view = nullptr;
    mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                 VeskTraySharedRegionSize, VeskTraySharedRegionName);
    if (!mapping) {
        CloseSharedRegion(mapping, view);
        return false;
    }
    view = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, VeskTraySharedRegionSize);
    if (!view) {
        CloseSharedRegion(mapping, view);
        return false;
    }
    return true;
}

void CloseSharedRegion(HANDLE& mapping, void*& view) {
    if (view) {
        UnmapViewOfFile(view);
        view = nullptr;
    }
    if (mapping) {
        CloseHandle(mapping);
        mapping = nullptr;
    }
}
