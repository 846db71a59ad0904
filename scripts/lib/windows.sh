# What the Windows build shares: the packages it needs and where its cross toolchain lives.
# Sourced by scripts/windows-toolchain, scripts/test-windows and scripts/package-windows.

# The host compiler builds qmake and the code generators that the cross Qt runs here.
WINDOWS_BUILD_PACKAGES=(cmake make g++ g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64)

# The Qt of Debian's source package, built once per machine outside the repository.
QT_SOURCE_PACKAGE=qtbase-opensource-src
QT_WINDOWS_CACHE=${UPDATER_TOOLCHAIN_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/updater-windows}
QT_WINDOWS_PREFIX=$QT_WINDOWS_CACHE/qt5-mingw64-static

# libsodium, which checks the release documents' signatures, from Debian's source package too, static,
# beside its Qt.
SODIUM_SOURCE_PACKAGE=libsodium
SODIUM_WINDOWS_PREFIX=$QT_WINDOWS_CACHE/libsodium-mingw64

# What running the Windows programs and their tests needs: Wine, and the tools that read the
# executables' headers and resources.
WINDOWS_TEST_PACKAGES=(wine wine64 icoutils)
