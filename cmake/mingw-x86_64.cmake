# Cross build for 64-bit Windows: the same code as the i686 build, for testing under 64-bit
# Wine where this machine cannot run 32-bit programs.
set(SFX_MINGW_PROCESSOR x86_64)
set(SFX_WINEARCH win64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
