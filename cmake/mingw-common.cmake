# Shared by the two flavours' toolchain files: cross-compiles Frostpane for Windows with MinGW-w64 (the
# -posix compilers) and runs its test executables under Wine through the harness's one Wine module.
# The including file sets FROSTPANE_FLAVOUR (x86 or x64) and FROSTPANE_TRIPLET first.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${FROSTPANE_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${FROSTPANE_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${FROSTPANE_TRIPLET}-windres)
set(CMAKE_OBJCOPY ${FROSTPANE_TRIPLET}-objcopy)

set(CMAKE_FIND_ROOT_PATH /usr/${FROSTPANE_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

get_filename_component(FROSTPANE_ROOT "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR python3 ${FROSTPANE_ROOT}/harness/wine.py exec ${FROSTPANE_FLAVOUR} --)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
