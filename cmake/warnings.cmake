# Our own targets' warnings, given to each of them rather than to the whole tree, so that
# what a find_package or a later subproject adds is not judged by them.
add_library(tk_warnings INTERFACE)
target_compile_options(tk_warnings INTERFACE -Wall -Wextra -Wshadow)

function(tk_use_warnings)
    foreach(target ${ARGN})
        target_link_libraries(${target} PRIVATE tk_warnings)
    endforeach()
endfunction()
