# Sources are collected by globbing. Qt's code generator does not notice files added to a glob on
# its own; giving it a listing that only changes with the file list makes it run again then.
function(kestrun_track_globbed_sources target)
  get_target_property(sources ${target} SOURCES)
  string(REPLACE ";" "\n" listing "${sources}")
  set(listing_file ${CMAKE_CURRENT_BINARY_DIR}/${target}_sources.txt)
  file(CONFIGURE OUTPUT ${listing_file} CONTENT "${listing}\n")
  set_property(TARGET ${target} APPEND PROPERTY AUTOGEN_TARGET_DEPENDS ${listing_file})
endfunction()
