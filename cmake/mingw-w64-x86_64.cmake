# Cross-compiling for 64-bit Windows with MinGW-w64 (Debian: g++-mingw-w64-x86-64).
# Usage: cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#        [-DCMAKE_PREFIX_PATH=<where a Windows freeglut is installed>]
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(mingw_triplet x86_64-w64-mingw32)
# The win32 thread model where there is a choice: the program has no threads, and the posix model
# would need libwinpthread-1.dll beside the .exe.
find_program(CMAKE_C_COMPILER NAMES ${mingw_triplet}-gcc-win32 ${mingw_triplet}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${mingw_triplet}-g++-win32 ${mingw_triplet}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${mingw_triplet}-windres REQUIRED)

# Headers and libraries come from the MinGW tree and from the prefixes in CMAKE_PREFIX_PATH, never
# from the host; programs run during the build are the host's. The prefixes are roots of their own,
# so that they are searched where they are rather than inside the MinGW tree.
set(CMAKE_FIND_ROOT_PATH /usr/${mingw_triplet} ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The same bytes from any folder at any time: no source or build folder in the objects, and no
# link time in the .exe's header.
set(CMAKE_C_FLAGS_INIT "-ffile-prefix-map=${CMAKE_SOURCE_DIR}=. -ffile-prefix-map=${CMAKE_BINARY_DIR}=.")
set(CMAKE_CXX_FLAGS_INIT "${CMAKE_C_FLAGS_INIT}")
# The C and C++ runtimes go inside the .exe: a Windows machine has no libgcc or libstdc++ DLL.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp")
