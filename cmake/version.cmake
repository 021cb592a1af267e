# The product version: the project's version and the commit it is built from, for the
# VERSIONINFO of every shipped binary, kvhost --version and the package's name.
#   KV_VERSION_FULL  e.g. 2.0.0+g1a2b3c4d; 2.0.0+unknown outside a git checkout
# The commit is read at configure time; a move of HEAD (commit, checkout) configures again.
set(KV_COMMIT "")
find_package(Git QUIET)
if(GIT_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --show-toplevel HEAD
                    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                    OUTPUT_VARIABLE kv_git RESULT_VARIABLE kv_git_status
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    # Only our own checkout counts, not a repository that happens to hold an exported tree.
    if(kv_git_status EQUAL 0)
        string(REPLACE "\n" ";" kv_git "${kv_git}")
        list(GET kv_git 0 kv_top)
        list(GET kv_git 1 kv_head)
        file(REAL_PATH "${kv_top}" kv_top)
        file(REAL_PATH "${CMAKE_SOURCE_DIR}" kv_source)
        if(kv_top STREQUAL kv_source)
            # A fixed length, so that every clone of one commit names it alike.
            string(SUBSTRING "${kv_head}" 0 8 KV_COMMIT)
            execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --path-format=absolute
                                    --git-path HEAD --git-path logs/HEAD
                            WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                            OUTPUT_VARIABLE kv_git_files OUTPUT_STRIP_TRAILING_WHITESPACE)
            string(REPLACE "\n" ";" kv_git_files "${kv_git_files}")
            foreach(file ${kv_git_files})
                if(EXISTS ${file})
                    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${file})
                endif()
            endforeach()
        endif()
    endif()
endif()
if(KV_COMMIT)
    set(KV_VERSION_FULL "${PROJECT_VERSION}+g${KV_COMMIT}")
else()
    set(KV_VERSION_FULL "${PROJECT_VERSION}+unknown")
endif()
# In the cache too, where scripts/package.sh reads it.
set(KV_VERSION_FULL "${KV_VERSION_FULL}" CACHE INTERNAL "The product version with the commit")

# kv_version_resource(RC FILETYPE FILENAME DESCRIPTION): the resource script RC of a version
# resource (four numbers, the dotted file version, the product version with the commit).
function(kv_version_resource rc filetype filename description)
    set(KV_RC_FILETYPE ${filetype})
    set(KV_RC_FILENAME ${filename})
    set(KV_RC_DESCRIPTION ${description})
    get_filename_component(KV_RC_INTERNAL ${filename} NAME_WE)
    set(KV_VERSION_DOTS "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0")
    set(KV_VERSION_COMMAS "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},0")
    configure_file(${CMAKE_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
endfunction()

# kv_shipped_binary(TARGET FILETYPE FILENAME DESCRIPTION): what every binary of the package
# gets: a version resource and, in release builds, no symbol tables.
function(kv_shipped_binary target filetype filename description)
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
    kv_version_resource(${rc} ${filetype} ${filename} "${description}")
    # The resource script is UTF-8.
    set_source_files_properties(${rc} PROPERTIES COMPILE_OPTIONS "-c65001")
    target_sources(${target} PRIVATE ${rc})
    target_link_options(${target} PRIVATE $<$<CONFIG:Release,MinSizeRel>:-s>)
endfunction()
