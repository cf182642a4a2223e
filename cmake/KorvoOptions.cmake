# Compiler settings shared by every target, linked privately: warnings and sanitizers.
add_library(korvo_options INTERFACE)
add_library(korvo::options ALIAS korvo_options)
target_compile_options(korvo_options INTERFACE
    $<$<CXX_COMPILER_ID:GNU,Clang>:-Wall -Wextra -Wno-unused-parameter>)

if(KORVO_SANITIZE STREQUAL "thread")
    target_compile_options(korvo_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(korvo_options INTERFACE -fsanitize=thread)
elseif(KORVO_SANITIZE)
    target_compile_options(korvo_options INTERFACE
        -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(korvo_options INTERFACE -fsanitize=address,undefined)
endif()

# Shared libraries that a host loads export their documented entry points only.
function(korvo_hidden_visibility target)
    set_target_properties(${target} PROPERTIES
        CXX_VISIBILITY_PRESET hidden
        C_VISIBILITY_PRESET hidden
        VISIBILITY_INLINES_HIDDEN ON)
endfunction()
