# The x86 flavour: 32-bit Windows (PE32, i386), the release.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(FROSTPANE_FLAVOUR x86)
set(FROSTPANE_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
