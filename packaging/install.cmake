# What `cmake --install` lays out under the prefix, and the .deb CPack makes of
# it. Every path is relative to the prefix: the program finds its files next
# to its own executable, so nothing depends on the prefix being /usr.

install(TARGETS lumora lumora-ctl RUNTIME DESTINATION bin)

set(_pkg ${PROJECT_SOURCE_DIR}/packaging)
set(_res ${PROJECT_SOURCE_DIR}/resources)

install(DIRECTORY ${_res}/site DESTINATION share/lumora)
install(PROGRAMS ${_res}/send_debug DESTINATION share/lumora)

install(FILES ${_pkg}/io.github.lumora.Lumora.desktop DESTINATION share/applications)
install(FILES ${_pkg}/io.github.lumora.Lumora.metainfo.xml DESTINATION share/metainfo)
install(FILES ${_res}/icons/lumora.svg DESTINATION share/icons/hicolor/scalable/apps)
# The tray images under theme names: the drawing for dark panels, and the
# single-colour symbolic one that icon themes recolour for any panel.
foreach(n 0 1 2 3)
  install(FILES ${_res}/icons/Icon_Lamp${n}-dark.svg
    DESTINATION share/icons/hicolor/scalable/status RENAME lumora-lamp${n}.svg)
  install(FILES ${_res}/icons/Icon_Lamp${n}-symbolic.svg
    DESTINATION share/icons/hicolor/scalable/status RENAME lumora-lamp${n}-symbolic.svg)
endforeach()

install(FILES ${_pkg}/completion/lumora-ctl.bash
  DESTINATION share/bash-completion/completions RENAME lumora-ctl)
# zsh reads the system's completion from vendor-completions on Debian, and
# from site-functions under any other prefix (/usr/local among them). The
# prefix is known only at install time: CPack installs under /usr.
install(CODE "
  if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
    set(_zsh_dir vendor-completions)
  else()
    set(_zsh_dir site-functions)
  endif()
  file(INSTALL \"${_pkg}/completion/_lumora-ctl\"
    DESTINATION \"\${CMAKE_INSTALL_PREFIX}/share/zsh/\${_zsh_dir}\"
    PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)")

# Man pages carry the version; Debian wants them and the changelog compressed
# without a time stamp, so the package is the same from one build to the next.
find_program(GZIP_PROGRAM gzip REQUIRED)
set(_generated)
foreach(page lumora lumora-ctl lumora-bridge-sim)
  set(_page ${CMAKE_BINARY_DIR}/man/${page}.1)
  add_custom_command(OUTPUT ${_page}.gz
    COMMAND ${CMAKE_COMMAND} -DIN=${_pkg}/man/${page}.1 -DOUT=${_page} -DVERSION=${PROJECT_VERSION}
            -P ${_pkg}/configure_page.cmake
    COMMAND ${GZIP_PROGRAM} -9nf ${_page}
    DEPENDS ${_pkg}/man/${page}.1 ${_pkg}/configure_page.cmake
    COMMENT "Man page ${page}(1)")
  list(APPEND _generated ${_page}.gz)
  install(FILES ${_page}.gz DESTINATION share/man/man1)
endforeach()
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/doc/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/doc
  COMMAND ${GZIP_PROGRAM} -9n -c ${_pkg}/changelog > ${CMAKE_BINARY_DIR}/doc/changelog.gz
  DEPENDS ${_pkg}/changelog)
list(APPEND _generated ${CMAKE_BINARY_DIR}/doc/changelog.gz)
add_custom_target(lumora_install_files ALL DEPENDS ${_generated})
install(FILES ${_pkg}/copyright ${CMAKE_BINARY_DIR}/doc/changelog.gz DESTINATION share/doc/lumora)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lumora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "The Lumora developers <lumora@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "control the lights behind a bridge from the system tray")
set(CPACK_PACKAGE_DESCRIPTION [=[
Lumora sits in the system tray and controls the lights behind one bridge on
the local network: lights, rooms and zones, scenes, brightness, colour and
colour temperature, everything off now or after a delay, and global keyboard
shortcuts.

The package also holds lumora-ctl, a command-line client on the same settings,
and lumora-bridge-sim, a simulated bridge for tests and demos.]=])
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The runtime libraries, as dpkg-shlibdeps finds them in the binaries.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Without the daemon, discovery falls back to the web and a typed address;
# nothing here may pull in a system service.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "avahi-daemon")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_STRIP_FILES ON)
include(CPack)
