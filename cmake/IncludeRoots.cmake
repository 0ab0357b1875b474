# Include roots that follow the links. Each library gets a folder of its own
# in the build tree holding links to its own headers only, under the path they
# have in the source tree (include/stirwatch_analysis/analysis/TBitmap.h ->
# analysis/TBitmap.h). That folder is the library's only include path, so
# `#include "analysis/TBitmap.h"` compiles only in a target that links
# stirwatch_analysis, directly or through a library that exports it: a missing
# link is a compile error, not a surprise at the next move.

# stirwatch_include_root(target [PRIVATE|PUBLIC|INTERFACE] [BASE dir] [HEADERS h...])
# Links the headers into the target's root and puts the root on its include
# path (PUBLIC by default, INTERFACE for header-only libraries). The headers
# are the target's own .h sources unless HEADERS names them; their paths in the
# root are relative to BASE (the source root by default).
function(stirwatch_include_root target)
    cmake_parse_arguments(R "PRIVATE;PUBLIC;INTERFACE" "BASE" "HEADERS" ${ARGN})
    set(scope PUBLIC)
    if(R_PRIVATE)
        set(scope PRIVATE)
    elseif(R_INTERFACE)
        set(scope INTERFACE)
    endif()
    if(NOT R_BASE)
        set(R_BASE ${CMAKE_SOURCE_DIR})
    endif()
    set(headers ${R_HEADERS})
    if(NOT R_HEADERS)
        get_target_property(sources ${target} SOURCES)
        list(FILTER sources INCLUDE REGEX "\\.h$")
        set(headers ${sources})
    endif()
    # Made anew at every configuration, so that a header moved to another
    # library does not stay reachable through a stale link.
    set(root ${CMAKE_BINARY_DIR}/include/${target})
    file(REMOVE_RECURSE ${root})
    foreach(header ${headers})
        get_filename_component(path ${header} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
        if(NOT EXISTS ${path})
            message(FATAL_ERROR "${target}: no header ${path}")
        endif()
        file(RELATIVE_PATH name ${R_BASE} ${path})
        get_filename_component(folder ${root}/${name} DIRECTORY)
        file(MAKE_DIRECTORY ${folder})
        file(CREATE_LINK ${path} ${root}/${name} SYMBOLIC)
    endforeach()
    file(MAKE_DIRECTORY ${root})
    target_include_directories(${target} ${scope} ${root})
endfunction()
