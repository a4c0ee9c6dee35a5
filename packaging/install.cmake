# Installs what the desktop and the session bus look for: the desktop entry, the D-Bus service
# file that starts the application on demand, and the gphoto2 hook script.
set(STILL2MOV_BINARY "${CMAKE_INSTALL_PREFIX}/bin/still2mov")
set(STILL2MOV_PACKAGING_OUT "${CMAKE_BINARY_DIR}/packaging")
configure_file("${CMAKE_SOURCE_DIR}/packaging/com.vantor.camera.still2mov.desktop.in"
  "${STILL2MOV_PACKAGING_OUT}/com.vantor.camera.still2mov.desktop" @ONLY)
configure_file("${CMAKE_SOURCE_DIR}/packaging/com.vantor.camera.still2mov.service.in"
  "${STILL2MOV_PACKAGING_OUT}/com.vantor.camera.still2mov.service" @ONLY)
configure_file("${CMAKE_SOURCE_DIR}/packaging/still2mov-gphoto2-hook.in"
  "${STILL2MOV_PACKAGING_OUT}/still2mov-gphoto2-hook" @ONLY)
install(FILES "${STILL2MOV_PACKAGING_OUT}/com.vantor.camera.still2mov.desktop" DESTINATION share/applications)
install(FILES "${STILL2MOV_PACKAGING_OUT}/com.vantor.camera.still2mov.service" DESTINATION share/dbus-1/services)
install(PROGRAMS "${STILL2MOV_PACKAGING_OUT}/still2mov-gphoto2-hook" DESTINATION share/still2mov)
