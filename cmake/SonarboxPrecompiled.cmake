# Precompiled headers, chosen per target from what its own sources include.
#
# Most of a build's time goes into parsing the same library headers (Qt,
# GoogleTest, the standard library) again for every file. Each target of
# several files gets one precompiled header made of the system headers that a
# good share of its files include at the top level (outside any #if), in the
# order they first appear: each of them already builds with that target's
# include paths and flags, and a file that did not include one of them only
# sees more declarations. A file's own header beside it counts with it.
# Headers included under a condition are left out, since they may not exist
# in every build.
#
# One thing to know: once libstdc++ is precompiled, GCC 12 no longer keeps its
# own false -Warray-bounds reports on `std::string(a) + "b"` to itself (the
# temporary's move looks out of bounds once inlined), and shows them in our
# files. Build such strings with append().
#
# sonarbox_precompile_all() goes over every target below the source directory;
# call it once, after all of them are defined.

set(SONARBOX_PRECOMPILE ON CACHE BOOL "Precompile the headers most files of a target include")
# A target needs this many C++ files before its own precompiled header pays
# for itself, and a header must be included by this share of them (percent).
set(_sonarbox_pch_min_files 6)
set(_sonarbox_pch_min_share 10)

function(_sonarbox_top_level_system_includes file out)
    file(STRINGS "${file}" lines REGEX "^[ \t]*#[ \t]*(if|ifdef|ifndef|endif|include[ \t]*<)")
    set(depth 0)
    set(found "")
    foreach(line IN LISTS lines)
        if(line MATCHES "^[ \t]*#[ \t]*if")
            math(EXPR depth "${depth} + 1")
        elseif(line MATCHES "^[ \t]*#[ \t]*endif")
            math(EXPR depth "${depth} - 1")
        elseif(depth EQUAL 0 AND line MATCHES "^[ \t]*#[ \t]*include[ \t]*(<[^>]+>)")
            # C headers are cheap to parse, and some (FFmpeg's) are included
            # inside extern "C": only C++ headers go in.
            set(header "${CMAKE_MATCH_1}")
            if(NOT header MATCHES "\\.h>$" OR header MATCHES "^<(gtest|gmock)/|^<httplib\\.h>$")
                list(APPEND found "${header}")
            endif()
        endif()
    endforeach()
    list(REMOVE_DUPLICATES found)
    set(${out} "${found}" PARENT_SCOPE)
endfunction()

function(_sonarbox_precompile target)
    get_target_property(type ${target} TYPE)
    if(NOT type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY)$")
        return()
    endif()
    get_target_property(imported ${target} IMPORTED)
    if(imported)
        return()
    endif()
    get_target_property(sources ${target} SOURCES)
    get_target_property(dir ${target} SOURCE_DIR)
    set(files 0)
    set(order "")
    foreach(source IN LISTS sources)
        if(NOT source MATCHES "\\.(cpp|cc)$")
            continue()
        endif()
        cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY "${dir}" OUTPUT_VARIABLE path)
        if(NOT EXISTS "${path}")
            continue()
        endif()
        math(EXPR files "${files} + 1")
        _sonarbox_top_level_system_includes("${path}" headers)
        # A class's file reaches most of its library headers through its own
        # header beside it.
        string(REGEX REPLACE "\\.[a-z]+$" ".h" companion "${path}")
        if(EXISTS "${companion}")
            _sonarbox_top_level_system_includes("${companion}" more)
            list(APPEND headers ${more})
            list(REMOVE_DUPLICATES headers)
        endif()
        foreach(header IN LISTS headers)
            string(MAKE_C_IDENTIFIER "${header}" key)
            if(NOT DEFINED count_${key})
                set(count_${key} 0)
                list(APPEND order "${header}")
            endif()
            math(EXPR count_${key} "${count_${key}} + 1")
        endforeach()
    endforeach()
    if(files LESS _sonarbox_pch_min_files)
        return()
    endif()
    set(chosen "")
    foreach(header IN LISTS order)
        string(MAKE_C_IDENTIFIER "${header}" key)
        math(EXPR share "${count_${key}} * 100 / ${files}")
        if(share GREATER_EQUAL _sonarbox_pch_min_share)
            list(APPEND chosen "$<$<COMPILE_LANGUAGE:CXX>:${header}>")
        endif()
    endforeach()
    if(chosen)
        target_precompile_headers(${target} PRIVATE ${chosen})
    endif()
endfunction()

function(_sonarbox_precompile_directory dir)
    get_property(targets DIRECTORY "${dir}" PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target IN LISTS targets)
        _sonarbox_precompile(${target})
    endforeach()
    get_property(subdirs DIRECTORY "${dir}" PROPERTY SUBDIRECTORIES)
    foreach(subdir IN LISTS subdirs)
        _sonarbox_precompile_directory("${subdir}")
    endforeach()
endfunction()

function(sonarbox_precompile_all)
    if(SONARBOX_PRECOMPILE)
        _sonarbox_precompile_directory("${CMAKE_SOURCE_DIR}")
    endif()
endfunction()
