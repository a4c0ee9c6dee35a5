# SPDX-License-Identifier: GPL-2.0-or-later
# Run by "cmake --install": fills the installed paths into the packaging templates and installs
# the results (file(INSTALL) honours DESTDIR and records them in install_manifest.txt).
function(still2mov_full_path out dir)
  if(IS_ABSOLUTE "${dir}")
    set(${out} "${dir}" PARENT_SCOPE)
  else()
    set(${out} "${CMAKE_INSTALL_PREFIX}/${dir}" PARENT_SCOPE)
  endif()
endfunction()

still2mov_full_path(bindir "${STILL2MOV_BINDIR}")
set(STILL2MOV_BINARY "${bindir}/still2mov")
still2mov_full_path(STILL2MOV_DATADIR "${STILL2MOV_DATADIR}")
still2mov_full_path(STILL2MOV_LIBEXECDIR "${STILL2MOV_LIBEXECDIR}")

foreach(entry ${STILL2MOV_TEMPLATES})
  string(REPLACE "|" ";" parts "${entry}")
  list(GET parts 0 template)
  list(GET parts 1 folder)
  list(GET parts 2 kind)
  string(REGEX REPLACE "\\.in$" "" name "${template}")
  still2mov_full_path(destination "${folder}")
  configure_file("${STILL2MOV_PACKAGING_SRC}/${template}" "${STILL2MOV_PACKAGING_OUT}/${name}" @ONLY)
  file(INSTALL DESTINATION "${destination}" TYPE ${kind} FILES "${STILL2MOV_PACKAGING_OUT}/${name}")
endforeach()
