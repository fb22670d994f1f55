# Cross build for 64-bit Windows with Debian's MinGW-w64 (the posix thread
# model, which std::thread needs). The executables are linked statically, so
# nothing but Windows' own DLLs stands beside them; the tests run under Wine,
# in a Wine prefix of the build folder so no run touches the user's own.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)

# libcrypto cross-built by .ci/windows-deps, outside the tree.
if(NOT DEFINED FWPACK_WINDOWS_CACHE)
  if(DEFINED ENV{FWPACK_WINDOWS_CACHE})
    set(FWPACK_WINDOWS_CACHE $ENV{FWPACK_WINDOWS_CACHE})
  else()
    set(FWPACK_WINDOWS_CACHE /var/cache/fwpack-windows)
  endif()
endif()
set(CMAKE_FIND_ROOT_PATH /usr/${triple} ${FWPACK_WINDOWS_CACHE}/openssl)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(OPENSSL_ROOT_DIR ${FWPACK_WINDOWS_CACHE}/openssl)
set(OPENSSL_USE_STATIC_LIBS TRUE)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

set(CMAKE_CROSSCOMPILING_EMULATOR
  env WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= wine)
