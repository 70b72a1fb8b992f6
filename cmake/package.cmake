# The packages CPack makes from what `cmake --install` places: on Linux a Debian package under
# /usr (the saver where the hosts look for it, with its manual page, copyright and changelog,
# installed from here), on Windows a zip of pairstream.scr and its README.txt. The workflow
# presets `deb` and `zip` configure, build and package in one go.
set(CPACK_PACKAGE_NAME pairstream)
set(CPACK_PACKAGE_VENDOR "The pairstream developers")
set(CPACK_PACKAGE_CONTACT "The pairstream developers <pairstream@users.noreply.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "full-screen particle screen saver")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)  # Windows' "Extract All" makes the folder itself
else()
  # The copyright in Debian's machine-readable format, taken from LICENSE.
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
  string(REGEX MATCH "Copyright [^\n]*" holder "${licence}")
  string(REPLACE "Copyright " "" holder "${holder}")
  string(FIND "${licence}" "Permission" start)
  string(SUBSTRING "${licence}" ${start} -1 terms)
  string(STRIP "${terms}" terms)
  string(REPLACE "\n\n" "\n.\n" terms "${terms}")
  string(REPLACE "\n" "\n " terms "${terms}")
  file(WRITE ${PROJECT_BINARY_DIR}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: pairstream
Upstream-Contact: ${CPACK_PACKAGE_CONTACT}

Files: *
Copyright: ${holder}
License: Expat
 ${terms}
")

  # The manual page and the changelog, compressed as Debian ships them: gzip -9, without a name
  # or time stamp.
  set(page ${PROJECT_SOURCE_DIR}/platform/x11/share/pairstream.6)
  set(changes ${PROJECT_SOURCE_DIR}/docs/changelog)
  add_custom_command(OUTPUT gzipped/pairstream.6.gz gzipped/changelog.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory gzipped
    COMMAND ${CMAKE_COMMAND} -E copy ${page} ${changes} gzipped
    COMMAND gzip -9nf gzipped/pairstream.6 gzipped/changelog
    DEPENDS ${page} ${changes}
    VERBATIM)
  add_custom_target(pairstream-docs ALL DEPENDS gzipped/pairstream.6.gz gzipped/changelog.gz)
  install(FILES ${PROJECT_BINARY_DIR}/gzipped/pairstream.6.gz DESTINATION share/man/man6)
  install(FILES ${PROJECT_BINARY_DIR}/copyright ${PROJECT_BINARY_DIR}/gzipped/changelog.gz
          DESTINATION share/doc/pairstream)

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION x11)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "A black screen, the pointer hidden, and 1000 coloured particles, each a pair of
one-pixel dots at the same height, streaming out from the centre and starting
again there when they leave the screen. The two dots of a pair close in on each
other at a rate that climbs slowly and drops back. Any key, click or sharp jump
of the mouse ends it at once.
.
The saver is installed where xscreensaver and mate-screensaver look for it,
with the entries that their settings list it from, as Pairstream. It also runs
on its own, started by an idle tool such as xautolock or xss-lock.")
endif()

include(CPack)
