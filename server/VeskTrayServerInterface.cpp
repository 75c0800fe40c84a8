#include "VeskTrayServerInterface.h"

bool OpenSharedRegion(TVeskHandle& mapping, TVeskMappedView& view) {
    CloseSharedRegion(mapping, view);
    mapping = TVeskHandle(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                             VeskTraySharedRegionSize, VeskTraySharedRegionName));
    if (!mapping.Valid())
        return false;
    view = TVeskMappedView(
        MapViewOfFile(mapping.Get(), FILE_MAP_WRITE, 0, 0, VeskTraySharedRegionSize));
    if (!view.Valid()) {
        CloseSharedRegion(mapping, view);
        return false;
    }
    return true;
}

void CloseSharedRegion(TVeskHandle& mapping, TVeskMappedView& view) {
    view.Unmap();
    mapping.Close();
}
