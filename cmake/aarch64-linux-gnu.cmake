# Cross-compiling for 64-bit Arm Linux (Debian arm64, Raspberry Pi OS 64-bit) with Debian's
# crossbuild-essential-arm64, over the :arm64 development packages (dpkg --add-architecture arm64).
# Usage: cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
# pkg-config (FindGLUT asks it first) reads the arm64 libraries' files, not the build machine's.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
# CPack takes the package's architecture from the build machine's dpkg otherwise.
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
