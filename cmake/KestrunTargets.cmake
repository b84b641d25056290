# Sources are collected by globbing. Qt's code generator does not notice files added to a glob on
# its own, so when a target's file list changes its generated files are thrown away and made anew.
function(kestrun_track_globbed_sources target)
  get_target_property(sources ${target} SOURCES)
  string(REPLACE ";" "\n" listing "${sources}")
  set(listing_file ${CMAKE_CURRENT_BINARY_DIR}/${target}_sources.txt)
  set(previous "")
  if(EXISTS ${listing_file})
    file(READ ${listing_file} previous)
  endif()
  if(NOT previous STREQUAL "${listing}\n")
    file(REMOVE_RECURSE ${CMAKE_CURRENT_BINARY_DIR}/${target}_autogen
                        ${CMAKE_CURRENT_BINARY_DIR}/CMakeFiles/${target}_autogen.dir/ParseCache.txt)
    file(WRITE ${listing_file} "${listing}\n")
  endif()
endfunction()
