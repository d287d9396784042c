# Warnings for the project's own targets; call sorvan_warnings(target).
function(sorvan_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(SORVAN_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
