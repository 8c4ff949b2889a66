# Warnings for our own targets; SCOPA_WERROR turns them into errors (CI does).
function(scopa_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow
                           -Wnon-virtual-dtor -Wimplicit-fallthrough)
    if(SCOPA_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()
