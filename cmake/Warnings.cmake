# Warnings for our own targets only; Qt's headers come in as system headers.
function(update_tool_warnings target)
    # Options only C++ knows are left out of the C library.
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow
                           $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor -Wold-style-cast
                                                    -Woverloaded-virtual>
                           -Wimplicit-fallthrough)
endfunction()

# One static library per subsystem folder.
function(update_tool_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LINKS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${ARG_LINKS})
    update_tool_warnings(${name})
endfunction()
