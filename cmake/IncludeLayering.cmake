# SPDX-License-Identifier: GPL-3.0-or-later
# The include check of the platform rooms (the include_layering test). At the end of
# configuration every target's files and the libraries it links go into a manifest;
# CheckIncludeLayering.cmake reads the manifest and the sources when the test runs.

# Records a target that this configuration does not build (the fuzz targets outside a fuzz
# build), so that its files are checked all the same.
#   postlark_layering_record(NAME SOURCES absolute paths... LIBRARIES names...)
function(postlark_layering_record name)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES;LIBRARIES")
    string(JOIN "," sources ${arg_SOURCES})
    string(JOIN "," libraries ${arg_LIBRARIES})
    set_property(GLOBAL APPEND PROPERTY POSTLARK_LAYERING_LINES "${name}|${libraries}|${sources}")
endfunction()

# Records the targets defined in `dir` and below.
function(postlark_layering_collect dir)
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target ${targets})
        get_target_property(type ${target} TYPE)
        if(NOT type MATCHES "^(STATIC_LIBRARY|SHARED_LIBRARY|OBJECT_LIBRARY|EXECUTABLE)$")
            continue()
        endif()
        get_target_property(sources ${target} SOURCES)
        get_target_property(libraries ${target} LINK_LIBRARIES)
        get_target_property(source_dir ${target} SOURCE_DIR)
        set(paths)
        foreach(source ${sources})
            if(source MATCHES "^\\$<")
                continue()
            endif()
            cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${source_dir} NORMALIZE)
            list(APPEND paths ${source})
        endforeach()
        if(NOT libraries)
            set(libraries)
        endif()
        postlark_layering_record(${target} SOURCES ${paths} LIBRARIES ${libraries})
    endforeach()
    get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    foreach(subdir ${subdirs})
        postlark_layering_collect(${subdir})
    endforeach()
endfunction()

# Writes the manifest: one line per target, "name|library,...|source,...".
function(postlark_layering_manifest file)
    postlark_layering_collect(${PROJECT_SOURCE_DIR})
    get_property(lines GLOBAL PROPERTY POSTLARK_LAYERING_LINES)
    list(JOIN lines "\n" text)
    file(WRITE ${file} "${text}\n")
endfunction()
