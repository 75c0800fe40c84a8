// The shared tray region: the named memory through which the hook library publishes the
// tray to clients. The server only keeps it open and mapped; its layout is theirs.
#pragma once

#include <windows.h>

inline constexpr char VeskTraySharedRegionName[] = "VeskTrayServerSharedMemory";
inline constexpr DWORD VeskTraySharedRegionSize = 17716;

// Creates the region, or opens it when another process made it first, and maps all of it
// for reading and writing. On failure both are left 0 and null.
bool OpenSharedRegion(HANDLE& mapping, void*& view);

// Unmaps the view, then closes the mapping; calling it again does nothing.
void CloseSharedRegion(HANDLE& mapping, void*& view);
