# The settings both Windows cross builds share, for Debian's mingw-w64 compilers; the
# toolchain files set SFX_MINGW_PROCESSOR (i686, x86_64) and SFX_WINEARCH, then include it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${SFX_MINGW_PROCESSOR})
set(triple ${SFX_MINGW_PROCESSOR}-w64-mingw32)

# The posix thread model: GoogleTest needs std::mutex, and the engine decrypts on several
# threads (the extractor's thread runtime is linked in statically like the rest).
set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program runs on its own: the compiler's runtime is linked in. No link time goes into
# the PE header, so that one commit always gives the same bytes.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp")

# Test programs run under Wine of the build's width, each width in a prefix of its own.
set(CMAKE_CROSSCOMPILING_EMULATOR env WINEARCH=${SFX_WINEARCH} ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
