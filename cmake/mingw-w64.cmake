# Cross-compiling for 64-bit Windows with Debian's mingw-w64, for both the libraries
# scripts/windows.sh builds (Qt) and Skylark itself:
#
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
#         -DSKYLARK_WINDOWS_PREFIX=<the prefix windows.sh printed>
#
# SKYLARK_WINDOWS_PREFIX is the folder with the Windows builds of Qt, libcurl and
# libssh2; find_package looks there and in the compiler's own sysroot, never in the
# host's /usr, whose Linux libraries would otherwise be picked up.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

# The posix thread model, named explicitly: the unsuffixed names follow the system's
# alternatives, and the win32 model has no std::thread or std::mutex.
set(SKYLARK_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${SKYLARK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SKYLARK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${SKYLARK_MINGW_TRIPLE}-windres)

set(SKYLARK_WINDOWS_PREFIX "" CACHE PATH "Windows builds of Qt, libcurl and libssh2 (made by scripts/windows.sh)")
# try_compile projects read this file again without the cache; hand the prefix on.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES SKYLARK_WINDOWS_PREFIX)

set(CMAKE_FIND_ROOT_PATH /usr/${SKYLARK_MINGW_TRIPLE})
if(SKYLARK_WINDOWS_PREFIX)
  list(PREPEND CMAKE_FIND_ROOT_PATH ${SKYLARK_WINDOWS_PREFIX})
  list(APPEND CMAKE_PREFIX_PATH ${SKYLARK_WINDOWS_PREFIX})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Qt's code generators (moc, rcc, uic) run on the build machine: they come from the
# host's Qt of the same version (qt6-base-dev-tools), whose CMake files Debian keeps
# under the multiarch folder rather than Qt's default lib/cmake.
set(QT_HOST_PATH /usr CACHE PATH "Host Qt whose tools the cross build runs")
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "CMake files of the host Qt")

# A program that runs from an unzipped folder: the C and C++ runtimes and winpthread are
# linked in, so no compiler DLL has to travel beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
