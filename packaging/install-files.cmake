# Run by "cmake --install": fills the installed program's path into the packaging templates and
# installs the results (DESTDIR is honoured by file(INSTALL)).
set(STILL2MOV_BINARY "${CMAKE_INSTALL_PREFIX}/bin/still2mov")
foreach(entry
    "com.vantor.camera.still2mov.desktop|share/applications|FILE"
    "com.vantor.camera.still2mov.service|share/dbus-1/services|FILE"
    "still2mov-gphoto2-hook|share/still2mov|PROGRAM")
  string(REPLACE "|" ";" parts "${entry}")
  list(GET parts 0 name)
  list(GET parts 1 folder)
  list(GET parts 2 kind)
  configure_file("${STILL2MOV_PACKAGING_SRC}/${name}.in" "${STILL2MOV_PACKAGING_OUT}/${name}" @ONLY)
  file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/${folder}" TYPE ${kind} FILES "${STILL2MOV_PACKAGING_OUT}/${name}")
endforeach()
