# What the Windows build shares: the packages it needs and where its cross toolchain lives.
# Sourced by scripts/windows-toolchain, scripts/test-windows and scripts/package-windows.

# The host compiler builds qmake and the code generators that the cross Qt runs here.
# The tests' certificates are made with openssl.
WINDOWS_BUILD_PACKAGES=(cmake make g++ g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 openssl)

# The Qt of Debian's source package, built once per machine outside the repository, with OpenSSL
# linked in for HTTPS (a Qt of an older cache, built without, is in qt5-mingw64-static and is replaced).
QT_SOURCE_PACKAGE=qtbase-opensource-src
QT_WINDOWS_CACHE=${UPDATER_TOOLCHAIN_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/updater-windows}
QT_WINDOWS_PREFIX=$QT_WINDOWS_CACHE/qt5-mingw64-static-openssl
QT_WINDOWS_PREFIX_WITHOUT_OPENSSL=$QT_WINDOWS_CACHE/qt5-mingw64-static

# OpenSSL 3, which Qt's HTTPS runs on (Qt 5.15's Schannel backend has no ALPN under MinGW, so no
# HTTP/2), from Debian's source package, static, beside Qt.
OPENSSL_SOURCE_PACKAGE=openssl
OPENSSL_WINDOWS_PREFIX=$QT_WINDOWS_CACHE/openssl-mingw64

# libsodium, which checks the release documents' signatures, from Debian's source package too, static,
# beside Qt.
SODIUM_SOURCE_PACKAGE=libsodium
SODIUM_WINDOWS_PREFIX=$QT_WINDOWS_CACHE/libsodium-mingw64

# What running the Windows programs and their tests needs: Wine, and the tools that read the
# executables' headers and resources.
WINDOWS_TEST_PACKAGES=(wine wine64 icoutils)
