# What `cmake --install` puts where, and the packages CPack makes of it: a .deb and a .tar.gz
# of the Linux programs, a .zip of the Windows ones. Included when the programs are built.

# Folders get rwxr-xr-x whatever the umask, so that the packages do not depend on who
# builds them.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                                                GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS})

# Who answers for the packages: the project's address, not a person's.
set(SFX_MAINTAINER "Sfx Extractor Maintainers <maintainers@sfx-extractor.invalid>")

# The manual pages carry the project's version.
foreach(page unsfx.1 sfx-pack.1)
  configure_file(man/${page}.in ${CMAKE_BINARY_DIR}/man/${page} @ONLY)
endforeach()

if(WIN32)
  # One folder to unpack and run: the programs beside the README and the licence.
  install(TARGETS unsfx sfx-pack RUNTIME DESTINATION .)
  if(TARGET extractor)
    install(TARGETS extractor RUNTIME DESTINATION .)
  endif()
  install(FILES README.md LICENSE DESTINATION .)
else()
  install(TARGETS unsfx sfx-pack RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # Installed manual pages are compressed the way Debian wants them: gzip -9n keeps neither
  # the name nor the time, so the same page gives the same bytes.
  find_program(SFX_GZIP gzip REQUIRED)
  set(pages)
  foreach(page unsfx.1 sfx-pack.1)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/man/${page}.gz
                       COMMAND ${SFX_GZIP} -9nkf ${CMAKE_BINARY_DIR}/man/${page}
                       DEPENDS ${CMAKE_BINARY_DIR}/man/${page} VERBATIM)
    list(APPEND pages ${CMAKE_BINARY_DIR}/man/${page}.gz)
  endforeach()
  # The Debian changelog of this native package: one entry for the version, dated by
  # SOURCE_DATE_EPOCH (the commit's time, see CMakeLists.txt).
  string(TIMESTAMP changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
  file(WRITE ${CMAKE_BINARY_DIR}/changelog
       "${PROJECT_NAME} (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
       "  * Release ${PROJECT_VERSION} of unsfx and sfx-pack (see README.md).\n\n"
       " -- ${SFX_MAINTAINER}  ${changelog_date}\n")
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/changelog.gz
                     COMMAND ${SFX_GZIP} -9nkf ${CMAKE_BINARY_DIR}/changelog
                     DEPENDS ${CMAKE_BINARY_DIR}/changelog VERBATIM)
  add_custom_target(sfx_compressed_docs ALL DEPENDS ${pages} ${CMAKE_BINARY_DIR}/changelog.gz)
  install(FILES ${pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  foreach(program unsfx sfx-pack)
    install(FILES completions/${program}.bash RENAME ${program}
            DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
  endforeach()
  # zsh searches share/zsh/site-functions under /usr/local; Debian's zsh searches
  # share/zsh/vendor-completions under /usr, the prefix of the .deb. The prefix is known only
  # when installing (`cmake --install --prefix`, CPack).
  install(CODE "
    if(CMAKE_INSTALL_PREFIX MATCHES \"^/usr/*$\")
      set(zsh_folder vendor-completions)
    else()
      set(zsh_folder site-functions)
    endif()
    file(INSTALL ${CMAKE_SOURCE_DIR}/completions/_unsfx ${CMAKE_SOURCE_DIR}/completions/_sfx-pack
         DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/zsh/\${zsh_folder}\")
  ")
  # `copyright` is where Debian looks for the licence of a package.
  file(READ LICENSE licence)
  file(WRITE ${CMAKE_BINARY_DIR}/copyright
       "${PROJECT_NAME} is free software under the MIT License (MIT):\n\n${licence}")
  install(FILES README.md LICENSE ${CMAKE_BINARY_DIR}/copyright ${CMAKE_BINARY_DIR}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VENDOR "The sfx-extractor authors")
set(CPACK_PACKAGE_CONTACT ${SFX_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${SFX_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY ${PROJECT_DESCRIPTION})
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${CMAKE_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB TGZ)
endif()

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# bash finds the completions only through the bash-completion package.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS bash-completion)
# The long description; CPack puts the summary above it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "unsfx shows, tests and extracts self-extracting encrypted files: a Windows\n\
extractor followed by a container of one file, encrypted with Blowfish and\n\
optionally compressed with LZW. sfx-pack builds such files.\n\n\
License: MIT (/usr/share/doc/${PROJECT_NAME}/copyright).")

include(CPack)
