# Installation and packages: a Debian package on Linux (cpack -G DEB, also
# in the arm64 and armhf cross builds) and a zip for Windows (cpack -G ZIP in
# the cross build).  The manual page takes the version from SKYNOTE_VERSION.
configure_file(skynote.1.in ${CMAKE_BINARY_DIR}/skynote.1 @ONLY)

set(CPACK_PACKAGE_NAME skynote)
set(CPACK_PACKAGE_VERSION ${SKYNOTE_VERSION})
set(CPACK_PACKAGE_VENDOR "the SKYNOTE authors")
set(CPACK_PACKAGE_CONTACT "the SKYNOTE authors <skynote@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "expand an observer's shorthand object lists")

# The same commit gives the same package bytes: every time stamp in them is
# the commit's, unless the caller sets SOURCE_DATE_EPOCH.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(skynote_epoch $ENV{SOURCE_DATE_EPOCH})
else()
  execute_process(COMMAND git log -1 --format=%ct WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    OUTPUT_VARIABLE skynote_epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
if(NOT skynote_epoch)
  message(WARNING "Neither git (in a clone of the sources) nor SOURCE_DATE_EPOCH gives the "
    "packages' time stamps: they get the time of the build, so two builds of the same "
    "sources differ.  Install git (Debian: apt-get install git) or set SOURCE_DATE_EPOCH.")
endif()

# gzip -n leaves out the time stamp, so that the same sources give the same
# package bytes.
function(skynote_gzip source target)
  add_custom_command(OUTPUT ${target}
    COMMAND gzip -9nc ${source} > ${target}
    DEPENDS ${source} VERBATIM)
endfunction()

set(skynote_examples examples/tadu.raw examples/tadumond.raw examples/deepsky.lst)

if(WIN32)
  # Everything at the top of the zip: the program, its examples and the
  # manual page as plain text for readers without man.
  install(TARGETS skynote RUNTIME DESTINATION .)
  install(FILES README.md LICENSE CHANGELOG.md DESTINATION .)
  install(FILES ${skynote_examples} DESTINATION examples)
  find_program(SKYNOTE_MANDOC mandoc)
  if(SKYNOTE_MANDOC)
    add_custom_command(OUTPUT skynote.txt
      COMMAND sh -c "${SKYNOTE_MANDOC} -T ascii \"$1\" | col -bx > skynote.txt" sh ${CMAKE_BINARY_DIR}/skynote.1
      DEPENDS ${CMAKE_BINARY_DIR}/skynote.1 VERBATIM)
    add_custom_target(manual_text ALL DEPENDS skynote.txt)
  else()
    message(WARNING "mandoc not found: the program builds, the zip cannot")
  endif()
  # A zip without its manual must not pass for a whole one.
  install(CODE "if(NOT EXISTS \"${CMAKE_BINARY_DIR}/skynote.txt\")
    message(FATAL_ERROR \"skynote.txt, the manual page as text, is missing: the zip needs mandoc (Debian: apt-get install mandoc) and a build after it\")
  endif()")
  install(FILES ${CMAKE_BINARY_DIR}/skynote.txt DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME skynote-${SKYNOTE_VERSION}-win64)
else()
  include(GNUInstallDirs)
  set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/skynote)
  skynote_gzip(${CMAKE_BINARY_DIR}/skynote.1 ${CMAKE_BINARY_DIR}/skynote.1.gz)
  # Debian wants its own changelog format in changelog.gz; the project's
  # change log stays beside it as written.
  if(skynote_epoch)
    set(ENV{SOURCE_DATE_EPOCH} ${skynote_epoch})
  endif()
  string(TIMESTAMP changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
  file(WRITE ${CMAKE_BINARY_DIR}/changelog.Debian
    "skynote (${SKYNOTE_VERSION}) unstable; urgency=medium\n\n"
    "  * Release ${SKYNOTE_VERSION}; the changes are in CHANGELOG.md.\n\n"
    " -- ${CPACK_PACKAGE_CONTACT}  ${changelog_date}\n")
  skynote_gzip(${CMAKE_BINARY_DIR}/changelog.Debian ${CMAKE_BINARY_DIR}/changelog.gz)
  add_custom_target(compressed_docs ALL DEPENDS
    ${CMAKE_BINARY_DIR}/skynote.1.gz ${CMAKE_BINARY_DIR}/changelog.gz)
  install(TARGETS skynote RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${CMAKE_BINARY_DIR}/skynote.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES LICENSE DESTINATION ${doc_dir} RENAME copyright)
  install(FILES ${CMAKE_BINARY_DIR}/changelog.gz README.md CHANGELOG.md DESTINATION ${doc_dir})
  install(FILES ${skynote_examples} DESTINATION ${doc_dir}/examples)
  set(CPACK_GENERATOR DEB)
  # The uninstall target removes what `cmake --install` installed, as this
  # last rule lists it.  install_manifest.txt will not do: cpack's own
  # install into its staging folder rewrites it with the package's paths
  # (/usr/bin/skynote), which are the Debian package's files.
  install(CODE "set(skynote_binary_dir [[${CMAKE_BINARY_DIR}]])")
  install(SCRIPT cmake/record-install.cmake)
  add_custom_target(uninstall
    COMMAND ${CMAKE_COMMAND} -DMANIFEST=${CMAKE_BINARY_DIR}/skynote_installed.txt
      -P ${PROJECT_SOURCE_DIR}/cmake/uninstall.cmake
    COMMENT "Removing what cmake --install installed from this build folder" VERBATIM)
endif()

set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The synopsis comes from the summary; this is the extended description.
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "An amateur astronomer types what was seen in a terse shorthand; skynote\n"
  "expands it into fixed-column object lines, semicolon-separated spreadsheet\n"
  "rows or a raw object list for an object index.  It reads standard input\n"
  "and writes standard output, byte for byte the same on Linux and Windows.")

# Settings for cpack's own run, which it reads from this file: the time
# stamps, and for a cross build its machine, so that dpkg-shlibdeps reads
# the Depends off the target's C library (libc6:arm64, say, from Debian's
# multiarch).
set(cpack_settings "")
if(skynote_epoch)
  string(APPEND cpack_settings "set(ENV{SOURCE_DATE_EPOCH} ${skynote_epoch})\n")
endif()
if(SKYNOTE_DEB_ARCH)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${SKYNOTE_DEB_ARCH})
  string(APPEND cpack_settings "set(ENV{DEB_HOST_ARCH} ${SKYNOTE_DEB_ARCH})\n")
endif()
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/cpack-settings.cmake)
file(WRITE ${CPACK_PROJECT_CONFIG_FILE} "${cpack_settings}")
include(CPack)
