# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (posix threads, for std::thread):
#   cmake -S . -B build-win/project -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake ...
# tools/build-windows does it all, the dependencies first. Libraries and headers are searched only in
# the mingw-w64 sysroot and in our own dependency prefix (build-win/deps, or PRAX_WIN_DEPS in the
# environment), never in the build machine's /usr. Programs link statically: each .exe stands alone,
# no DLL beside it. Tests run through Wine (tools/wine-run), and GoogleTest's cases are listed when the
# tests run, so building never needs Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(PRAX_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${PRAX_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PRAX_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${PRAX_MINGW}-windres)

if(DEFINED ENV{PRAX_WIN_DEPS})
  set(PRAX_WIN_DEPS "$ENV{PRAX_WIN_DEPS}")
else()
  get_filename_component(PRAX_WIN_DEPS "${CMAKE_CURRENT_LIST_DIR}/../build-win/deps" ABSOLUTE)
endif()
set(CMAKE_FIND_ROOT_PATH /usr/${PRAX_MINGW} ${PRAX_WIN_DEPS})
set(CMAKE_PREFIX_PATH ${PRAX_WIN_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The sqlite3.exe of the dependency prefix, for the tests that read created databases.
set(PRAX_SQLITE3_PROGRAM ${PRAX_WIN_DEPS}/bin/sqlite3.exe CACHE FILEPATH "")

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
get_filename_component(PRAX_WINE_RUN "${CMAKE_CURRENT_LIST_DIR}/../tools/wine-run" ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${PRAX_WINE_RUN})
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
# No server engine: libpq for Windows is not among Debian's packages.
set(PRAX_WITH_POSTGRESQL OFF CACHE BOOL "")
