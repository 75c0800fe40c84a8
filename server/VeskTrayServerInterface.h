// The shared tray region (the module's name aside, it holds only this): the named memory
// through which the hook library publishes the tray to clients. The server only keeps it open
// and mapped; its layout is theirs.
#pragma once

#include <windows.h>

#include "VeskHandle.h"
#include "VeskMappedView.h"

inline constexpr char VeskTraySharedRegionName[] = "VeskTrayServerSharedMemory";
inline constexpr DWORD VeskTraySharedRegionSize = 17716;

// Creates the region, or opens it when another process made it first, and maps all of it
// for reading and writing. On failure both owners are left empty.
bool OpenSharedRegion(TVeskHandle& mapping, TVeskMappedView& view);

// Unmaps the view, then closes the mapping; calling it again does nothing.
void CloseSharedRegion(TVeskHandle& mapping, TVeskMappedView& view);
