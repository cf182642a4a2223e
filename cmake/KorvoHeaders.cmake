# Include roots. Every library reaches its headers through a folder of its own in the build tree,
# build/include/<target>, which holds links to the library's source folders (or to single headers)
# and nothing else. A target therefore sees its own headers and those of the targets it links;
# an include from any other folder fails to compile, so the link graph is the layering.
#
#   korvo_headers(<target> <base> <path>...)
#
# Each path is a folder or a header relative to <base>, the directory that includes are written
# relative to: "shell" or "korvo_plugin.h" under src/korvoplugin, "standalone_host/scene" under src.
# A library publishes its root to whatever links it; an executable keeps it to itself.
function(korvo_headers target base)
    set(root ${CMAKE_BINARY_DIR}/include/${target})
    # Removes the links only, never what they point to.
    file(REMOVE_RECURSE ${root})
    foreach(path IN LISTS ARGN)
        if(NOT EXISTS ${base}/${path})
            message(FATAL_ERROR "korvo_headers(${target}): ${base}/${path} does not exist")
        endif()
        get_filename_component(parent ${root}/${path} DIRECTORY)
        file(MAKE_DIRECTORY ${parent})
        file(CREATE_LINK ${base}/${path} ${root}/${path} SYMBOLIC)
    endforeach()

    get_target_property(type ${target} TYPE)
    if(type STREQUAL "INTERFACE_LIBRARY")
        target_include_directories(${target} INTERFACE ${root})
    elseif(type STREQUAL "EXECUTABLE")
        target_include_directories(${target} PRIVATE ${root})
    else()
        target_include_directories(${target} PUBLIC ${root})
    endif()
endfunction()
