# Cross-builds the updater for Windows x64 with Debian's MinGW-w64 (POSIX threads) against the static
# Qt and libsodium that scripts/windows-toolchain makes. Used by scripts/test-windows and
# scripts/package-windows, with the prefixes that scripts/windows-toolchain prints:
#
#   cmake -DCMAKE_TOOLCHAIN_FILE=scripts/lib/mingw-w64.cmake -DCMAKE_PREFIX_PATH="QT_PREFIX;SODIUM_PREFIX" ...
#
# Tests run under Wine: CTest starts each Windows test program through WINE (default: wine).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

# Programs that need no DLL beyond Windows' own: the MinGW runtime goes into every executable. Qt
# is built with a section per function, so what nobody calls is left out; a release has no symbols.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -Wl,--gc-sections")
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")

# Libraries and packages come from the cross prefixes only; programs (moc, rcc, uic) from the build machine.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_FIND_ROOT_PATH ${CMAKE_PREFIX_PATH} /usr/x86_64-w64-mingw32)

set(WINE "wine" CACHE STRING "How CTest starts a Windows program")
set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE})
