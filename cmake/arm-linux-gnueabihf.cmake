# Cross-compiling for 32-bit Arm Linux (Debian armhf: ARMv7 with VFP, 32-bit Raspberry Pi OS on the
# Pi 2 and later) with Debian's crossbuild-essential-armhf, over the :armhf development packages
# (dpkg --add-architecture armhf).
# Usage: cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-gnueabihf.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
# pkg-config (FindGLUT asks it first) reads the armhf libraries' files, not the build machine's.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/arm-linux-gnueabihf/pkgconfig:/usr/share/pkgconfig)
# CPack takes the package's architecture from the build machine's dpkg otherwise.
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE armhf)
# Raspberry Pi OS names its ARMv6 userland (Pi 1, Zero, Zero W) armhf too, where this build cannot
# run: the package refuses to install there.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/../packaging/armhf/preinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
