# Project warnings, applied per target so that third-party code is left alone.
function(dravik_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow=local -Wno-unused-parameter)
  if(DRAVIK_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
option(DRAVIK_WERROR "Treat warnings as errors" OFF)
