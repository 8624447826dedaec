# Cross build for 32-bit Windows: the extractor as it ships, tested under 32-bit Wine.
set(SFX_MINGW_PROCESSOR i686)
set(SFX_WINEARCH win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
