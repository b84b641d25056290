# Switches the CI builds turn on; a developer's build stays as it was.
#
# KESTRUN_WERROR: every warning in the project's own code fails the build. libzpaq is made
# before this is included and compiles with -w, so third-party warnings never count.
# KESTRUN_SANITIZE: a comma-separated -fsanitize list (CI uses "address,undefined"). Every
# finding ends the program: UBSan does not go on after a report, so a test cannot pass over one.
# clang-tidy reads how each file is compiled from here.
set(CMAKE_EXPORT_COMPILE_COMMANDS ON)

option(KESTRUN_WERROR "Treat warnings in the project's own code as errors" OFF)
set(KESTRUN_SANITIZE "" CACHE STRING "Sanitizers to build with, such as address,undefined")

if(KESTRUN_WERROR)
  add_compile_options(-Werror)
endif()

if(KESTRUN_SANITIZE)
  set(_kestrun_sanitize_flags -fsanitize=${KESTRUN_SANITIZE} -fno-omit-frame-pointer
                              -fno-sanitize-recover=all)
  add_compile_options(${_kestrun_sanitize_flags})
  add_link_options(${_kestrun_sanitize_flags})
  # libzpaq was made before these options: it gets them too, so ASan sees its heap as well.
  target_compile_options(kestrun_libzpaq PRIVATE ${_kestrun_sanitize_flags})
endif()
