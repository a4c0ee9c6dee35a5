# SPDX-License-Identifier: GPL-2.0-or-later
# Installs what the desktop, the session bus, man, the shells and software centres look for, in
# the GNU folders below the prefix, and adds an "uninstall" target that removes what was installed.
# Templates (*.in) name installed paths, which are only known at install time ("cmake --install
# --prefix" may change the prefix), so they are filled in then.

# systemd looks for user units in lib/systemd/user below /usr and /usr/local (not in a multiarch
# libdir); packagers may set the folder.
set(STILL2MOV_SYSTEMD_USER_UNIT_DIR "lib/systemd/user"
    CACHE STRING "Folder of the systemd user unit (below the prefix unless absolute)")
# template | folder below the prefix | FILE or PROGRAM
set(STILL2MOV_TEMPLATES
  "com.vantor.camera.still2mov.desktop.in|${CMAKE_INSTALL_DATADIR}/applications|FILE"
  "com.vantor.camera.still2mov.service.in|${CMAKE_INSTALL_DATADIR}/dbus-1/services|FILE"
  "still2mov-gphoto2-hook.in|${CMAKE_INSTALL_LIBEXECDIR}/still2mov|PROGRAM"
  "still2mov.1.in|${CMAKE_INSTALL_MANDIR}/man1|FILE"
  "still2mov-watch@.service.in|${STILL2MOV_SYSTEMD_USER_UNIT_DIR}|FILE")
install(CODE "set(STILL2MOV_PACKAGING_SRC \"${CMAKE_SOURCE_DIR}/packaging\")
set(STILL2MOV_PACKAGING_OUT \"${CMAKE_BINARY_DIR}/packaging\")
set(STILL2MOV_TEMPLATES \"${STILL2MOV_TEMPLATES}\")
set(STILL2MOV_VERSION \"${PROJECT_VERSION}\")
set(STILL2MOV_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
set(STILL2MOV_DATADIR \"${CMAKE_INSTALL_DATADIR}\")
set(STILL2MOV_LIBEXECDIR \"${CMAKE_INSTALL_LIBEXECDIR}\")")
install(SCRIPT "${CMAKE_SOURCE_DIR}/packaging/install-files.cmake")

install(FILES "${CMAKE_SOURCE_DIR}/packaging/com.vantor.camera.still2mov.svg"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps")
install(FILES "${CMAKE_SOURCE_DIR}/packaging/com.vantor.camera.still2mov.metainfo.xml"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")
# Distributions differ on where zsh looks (Debian: share/zsh/vendor-completions); packagers set these.
set(STILL2MOV_BASH_COMPLETION_DIR "${CMAKE_INSTALL_DATADIR}/bash-completion/completions"
    CACHE STRING "Folder of the bash completion (below the prefix unless absolute)")
set(STILL2MOV_ZSH_COMPLETION_DIR "${CMAKE_INSTALL_DATADIR}/zsh/site-functions"
    CACHE STRING "Folder of the zsh completion (below the prefix unless absolute)")
install(FILES "${CMAKE_SOURCE_DIR}/packaging/completions/still2mov.bash"
        DESTINATION "${STILL2MOV_BASH_COMPLETION_DIR}" RENAME still2mov)
install(FILES "${CMAKE_SOURCE_DIR}/packaging/completions/_still2mov" DESTINATION "${STILL2MOV_ZSH_COMPLETION_DIR}")

add_custom_target(uninstall
  COMMAND "${CMAKE_COMMAND}" -DMANIFEST=${CMAKE_BINARY_DIR}/install_manifest.txt
          -P "${CMAKE_SOURCE_DIR}/packaging/uninstall.cmake"
  COMMENT "Removing the files that cmake --install installed"
  VERBATIM)
