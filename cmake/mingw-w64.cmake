# Cross-building for 64-bit Windows with MinGW-w64 (Debian's
# g++-mingw-w64-x86-64-posix):
#   cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DISP_BUILD_QT_WINDOW=OFF
# The -posix compilers: the default ones use the win32 thread model, which
# has no std::mutex or std::thread.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ISP_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ISP_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ISP_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ISP_MINGW_TRIPLET}-windres)

# Libraries and headers for the target only from its own root; programs
# (and header-only packages' CMake files) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${ISP_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Header-only libraries from the host's packages, their headers alone
# (cmake/mingw-w64/HostHeaders.cmake).
set(CLI11_DIR ${CMAKE_CURRENT_LIST_DIR}/mingw-w64)
set(nlohmann_json_DIR ${CMAKE_CURRENT_LIST_DIR}/mingw-w64)

# One .exe that needs no MinGW DLL beside it (libstdc++, libgcc,
# winpthread), and Windows 10 APIs in the headers.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_CXX_FLAGS_INIT "-D_WIN32_WINNT=0x0A00 -DWINVER=0x0A00 -DNOMINMAX")

# Programs built for Windows run under Wine here (ctest, custom commands).
find_program(ISP_WINE wine)
if(ISP_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ISP_WINE})
endif()
