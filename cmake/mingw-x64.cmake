# The x64 flavour: 64-bit Windows (PE32+, x86-64), from the same sources and resources.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(FROSTPANE_FLAVOUR x64)
set(FROSTPANE_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
