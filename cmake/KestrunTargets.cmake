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

# The launcher's version is compiled into one small generated source. The launcher library carries
# the project's version; an executable that lists the source of another version among its own
# sources uses that one instead, since the linker takes a member out of a static library only for
# a symbol that is still undefined. A launcher of another version is thus one compile and a link.
function(kestrun_launcher_version_source out version)
  set(KESTRUN_LAUNCHER_VERSION ${version})
  set(file ${CMAKE_BINARY_DIR}/generated/launcherversion-${version}.cpp)
  configure_file(${PROJECT_SOURCE_DIR}/src/launcher/product/launcherversion.cpp.in ${file} @ONLY)
  set(${out} ${file} PARENT_SCOPE)
endfunction()
