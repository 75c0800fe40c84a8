# 64-bit Windows with MinGW-w64, run under Wine's 64-bit loader (Debian's `wine` command
# always picks the 32-bit one when it is installed, and that one cannot run on every kernel).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VESK_MINGW_TRIPLET x86_64-w64-mingw32)
set(VESK_WINE_LOADER /usr/lib/wine/wine64)
include(${CMAKE_CURRENT_LIST_DIR}/VeskMinGW.cmake)
