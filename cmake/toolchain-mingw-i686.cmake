# 32-bit Windows (the Windows 2000/XP API) with MinGW-w64, run under Wine's 32-bit loader
# itself, so that a 32-bit test never lands in the 64-bit one.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VESK_MINGW_TRIPLET i686-w64-mingw32)
set(VESK_WINE_LOADER /usr/lib/wine/wine)
include(${CMAKE_CURRENT_LIST_DIR}/VeskMinGW.cmake)
