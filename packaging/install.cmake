# Installs what the desktop and the session bus look for: the desktop entry, the D-Bus service
# file that starts the application on demand, and the gphoto2 hook script.
# They name the installed program, which is only known at install time (--prefix may change it).
install(CODE "set(STILL2MOV_PACKAGING_SRC \"${CMAKE_SOURCE_DIR}/packaging\")
set(STILL2MOV_PACKAGING_OUT \"${CMAKE_BINARY_DIR}/packaging\")")
install(SCRIPT "${CMAKE_SOURCE_DIR}/packaging/install-files.cmake")
