# Cross build for 32-bit Windows with Debian's mingw-w64 i686 compilers.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

# The posix thread model (GoogleTest needs std::mutex); everything is linked statically.
# The extractor's own threads (the decrypting helpers, the reader and the writer) are
# Windows threads, made by the platform layer with CreateThread.
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program runs on its own: the compiler's runtime is linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs run under 32-bit Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR env WINEARCH=win32 ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
