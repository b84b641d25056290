# Static library target kestrun_libzpaq from the libzpaq sources that scripts/fetch-libzpaq.sh
# puts into .cache/libzpaq/ (or LIBZPAQ_DIR).
#
# The fetched libzpaq.cpp is compiled from a copy with one change: every interpreted ZPAQL
# instruction calls libzpaq::kestrunZpaqlStep(), which the adapter defines. A downloaded stream
# carries its own programs, and without that hook a program that loops forever would hang the
# decoding thread for good.
set(LIBZPAQ_DIR "${CMAKE_CURRENT_LIST_DIR}/../.cache/libzpaq"
    CACHE PATH "Directory holding libzpaq.h and libzpaq.cpp")

if(NOT EXISTS "${LIBZPAQ_DIR}/libzpaq.h" OR NOT EXISTS "${LIBZPAQ_DIR}/libzpaq.cpp")
  message(FATAL_ERROR "libzpaq not found in ${LIBZPAQ_DIR}: run scripts/fetch-libzpaq.sh")
endif()

set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${LIBZPAQ_DIR}/libzpaq.cpp")
file(READ "${LIBZPAQ_DIR}/libzpaq.cpp" _libzpaq_source)
set(_libzpaq_loop "  while (execute()) ;")
string(FIND "${_libzpaq_source}" "${_libzpaq_loop}" _libzpaq_loop_at)
if(_libzpaq_loop_at EQUAL -1)
  message(FATAL_ERROR "libzpaq.cpp in ${LIBZPAQ_DIR} lacks the interpreter loop to bound")
endif()
string(REPLACE "${_libzpaq_loop}" "  while (execute()) kestrunZpaqlStep();" _libzpaq_source
               "${_libzpaq_source}")
string(REPLACE "#include \"libzpaq.h\"\n"
               "#include \"libzpaq.h\"\nnamespace libzpaq { void kestrunZpaqlStep(); }\n"
               _libzpaq_source "${_libzpaq_source}")
file(WRITE "${CMAKE_CURRENT_BINARY_DIR}/libzpaq/libzpaq.cpp.new" "${_libzpaq_source}")
configure_file("${CMAKE_CURRENT_BINARY_DIR}/libzpaq/libzpaq.cpp.new"
               "${CMAKE_CURRENT_BINARY_DIR}/libzpaq/libzpaq.cpp" COPYONLY)

add_library(kestrun_libzpaq STATIC "${CMAKE_CURRENT_BINARY_DIR}/libzpaq/libzpaq.cpp")
# -Dunix keeps it off windows.h under -std=c++17; NOJIT means no ZPAQL program from a download is
# ever turned into machine code.
target_compile_definitions(kestrun_libzpaq PUBLIC NOJIT unix)
target_include_directories(kestrun_libzpaq SYSTEM PUBLIC "${LIBZPAQ_DIR}")
# Third-party code: its warnings are not ours to fix.
target_compile_options(kestrun_libzpaq PRIVATE -w)
set_target_properties(kestrun_libzpaq PROPERTIES POSITION_INDEPENDENT_CODE ON AUTOMOC OFF)
