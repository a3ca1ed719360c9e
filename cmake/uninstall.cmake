# Removes what `cmake --install` put in place, as the build folder's
# skynote_installed.txt lists it, and the folders of skynote's own that this
# leaves empty:  cmake --build build --target uninstall
#   cmake -DMANIFEST=build/skynote_installed.txt -P uninstall.cmake
if(NOT EXISTS "${MANIFEST}")
  message(FATAL_ERROR "${MANIFEST} not found: nothing was installed from this build folder")
endif()
file(STRINGS "${MANIFEST}" installed)
foreach(file ${installed})
  set(path "$ENV{DESTDIR}${file}")
  if(EXISTS "${path}" OR IS_SYMLINK "${path}")
    message(STATUS "Removing ${path}")
    file(REMOVE "${path}")
  else()
    message(STATUS "Already gone: ${path}")
  endif()
  # share/doc/skynote/examples and share/doc/skynote, once empty.
  get_filename_component(dir "${path}" DIRECTORY)
  while(dir MATCHES "/skynote(/|$)")
    file(GLOB left "${dir}/*")
    if(left OR NOT IS_DIRECTORY "${dir}")
      break()
    endif()
    file(REMOVE_RECURSE "${dir}")
    get_filename_component(dir "${dir}" DIRECTORY)
  endwhile()
endforeach()
