# What every Windows program of the project carries: the hardened image flags and a manifest
# of today's Windows (cmake/manifest-common.xml: asInvoker, the supported versions).
enable_language(RC)

if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(SFX_MANIFEST_ARCHITECTURE amd64)
else()
  set(SFX_MANIFEST_ARCHITECTURE x86)
endif()
file(READ ${CMAKE_CURRENT_LIST_DIR}/manifest-common.xml SFX_MANIFEST_COMMON)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${CMAKE_CURRENT_LIST_DIR}/manifest-common.xml)
string(REGEX REPLACE "\n$" "" SFX_MANIFEST_COMMON "${SFX_MANIFEST_COMMON}")

# Address-space layout randomisation (with the relocations it needs) and no execution from
# data; a program Windows need not give a per-session view of the system (--tsaware). The
# 32-bit programs register no structured exception handlers (GCC unwinds with DWARF tables),
# so none may run from them (--no-seh): a handler planted by an overflow is refused. The
# 64-bit runtime unwinds through its SEH tables and keeps them.
set(SFX_IMAGE_FLAGS -Wl,--dynamicbase -Wl,--nxcompat -Wl,--tsaware)
if(NOT CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  list(APPEND SFX_IMAGE_FLAGS -Wl,--no-seh)
endif()

# A canary in every function of the engine and the dialog that has an array or takes a
# local's address: an overflow of it ends the program before the function returns through
# what it overwrote. Whatever links the engine links the runtime that checks it.
set(SFX_STACK_PROTECTOR -fstack-protector-strong)

# sfx_windows_image(target): the image flags above.
function(sfx_windows_image target)
  target_link_options(${target} PRIVATE ${SFX_IMAGE_FLAGS})
endfunction()

# sfx_console_manifest(target program description): the manifest of a command-line program,
# made from cmake/console.manifest.in into generated/PROGRAM.manifest and linked in as the
# program's manifest resource (the extractor's own names the common controls as well).
function(sfx_console_manifest target program description)
  set(SFX_MANIFEST_PROGRAM ${program})
  set(SFX_MANIFEST_DESCRIPTION ${description})
  set(generated ${CMAKE_BINARY_DIR}/generated)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/console.manifest.in ${generated}/${program}.manifest
                 @ONLY)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/manifest.rc.in ${generated}/${program}-manifest.rc
                 @ONLY)
  set_source_files_properties(${generated}/${program}-manifest.rc PROPERTIES
    OBJECT_DEPENDS ${generated}/${program}.manifest)
  target_sources(${target} PRIVATE ${generated}/${program}-manifest.rc)
endfunction()
