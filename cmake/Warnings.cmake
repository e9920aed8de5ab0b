# Warnings for every target of the project (not for third-party code).
function(launcher_warnings target)
  # C and C++ only: a Windows resource script goes through the same targets.
  set(warnings -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion
               -Wnon-virtual-dtor)
  if(WIN32 AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    # MinGW's GCC 12 at -O3 takes std::string's operator+ for an overlapping
    # copy (GCC bug 105651).
    list(APPEND warnings -Wno-restrict)
  endif()
  if(LAUNCHER_WARNINGS_AS_ERRORS)
    list(APPEND warnings -Werror)
  endif()
  target_compile_options(${target} PRIVATE "$<$<COMPILE_LANGUAGE:C,CXX>:${warnings}>")
endfunction()
