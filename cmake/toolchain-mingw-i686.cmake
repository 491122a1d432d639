# Cross-compiles the installer as a 32-bit Windows program with mingw-w64 and
# runs what it builds under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(TDE_MINGW_PREFIX i686-w64-mingw32)
# The posix thread model is the one that has std::mutex and std::call_once.
set(CMAKE_C_COMPILER ${TDE_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TDE_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TDE_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TDE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No mingw DLL may be needed beside the exe.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# zlib from Debian's mingw package, linked statically.
set(ZLIB_USE_STATIC_LIBS ON)
set(ZLIB_LIBRARY /usr/${TDE_MINGW_PREFIX}/lib/libz.a CACHE FILEPATH "")
set(ZLIB_INCLUDE_DIR /usr/${TDE_MINGW_PREFIX}/include CACHE PATH "")
set(CMAKE_RC_FLAGS_INIT "-c 65001")
