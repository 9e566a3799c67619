# The same warnings on every target of ours; third-party code (GoogleTest)
# keeps its own settings. Layout tables name only the fields a row needs and
# rely on the members' defaults for the rest, which g++ would warn about.
#
# Warnings become errors only where asked (the test command and CI): a newer
# compiler's new warnings must not stop a user's or a packager's build.
option(TRAYVO_WERROR "Treat the compilers' warnings on the project's own code as errors" OFF)

function(trayvo_target_warnings target)
    target_compile_options(${target} PRIVATE
        -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wold-style-cast
        -Wnon-virtual-dtor -Woverloaded-virtual -Wno-missing-field-initializers)
    if(TRAYVO_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()

macro(trayvo_enable_sanitizers)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endmacro()
