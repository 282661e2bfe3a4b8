# Settings shared by every target of the suite.

add_compile_definitions(UNICODE _UNICODE NOMINMAX STRICT)
# Windows headers level per folder (zb_add_suite_folder): the product runs
# from Windows XP x64 (5.2) on, so its code sees only what XP has and reaches
# anything later through common/wrappers.h; the simulated notebook, the toast
# library (loaded on Windows 8 and later), tests and tools see everything.
# Product headers that tests include must therefore not hold structures
# whose size follows the level (NOTIFYICONDATAW, NONCLIENTMETRICSW, ...).
set(ZB_PRODUCT_FOLDERS common battery ipc refresh main sched install)
set(ZB_XP_LEVEL _WIN32_WINNT=0x0502 WINVER=0x0502 NTDDI_VERSION=0x05020000)
set(ZB_LATEST_LEVEL _WIN32_WINNT=0x0A00 WINVER=0x0A00 NTDDI_VERSION=0x0A000000)
add_compile_options($<$<COMPILE_LANGUAGE:CXX,C>:-Wall> $<$<COMPILE_LANGUAGE:CXX,C>:-Wextra>
                    $<$<COMPILE_LANGUAGE:CXX,C>:-Wno-missing-field-initializers>)
# A bare Wine prefix has no MinGW runtime DLLs: link everything statically.
add_link_options(-static -static-libgcc -static-libstdc++)
# Wine maps an image's sections straight from the file only where they
# start on a page boundary in it; with the linker's default 512-byte file
# alignment it copies the whole image, code and all, into memory of the
# process's own and counts every page as private bytes. The static runtime's
# debug sections would be loaded along with it: leave them out.
add_link_options(-Wl,--file-alignment,4096 -Wl,--strip-debug)

set(ZB_SOURCE_ROOT ${CMAKE_SOURCE_DIR})
set(ZB_MANIFEST ${CMAKE_SOURCE_DIR}/res/app.manifest)

# Static library from every .cpp of a folder; skipped while the folder is empty.
function(zb_add_folder_library name)
    cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
    file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    if(NOT srcs)
        return()
    endif()
    add_library(${name} STATIC ${srcs})
    target_include_directories(${name} PUBLIC ${ZB_SOURCE_ROOT})
    target_link_libraries(${name} PUBLIC ${ARG_LIBS})
endfunction()

# A Windows program. GUI programs enter at wWinMain, console ones at wmain.
function(zb_add_program name)
    cmake_parse_arguments(ARG "CONSOLE" "" "SOURCES;LIBS" ${ARGN})
    # Product programs take the threading runtime's GetTickCount64 from
    # common/runtime (see there), so that Windows XP loads them.
    get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
    if(folder IN_LIST ZB_PRODUCT_FOLDERS)
        list(APPEND ARG_SOURCES ${ZB_SOURCE_ROOT}/common/runtime/tick_count_xp.cpp)
    endif()
    add_executable(${name} ${ARG_SOURCES})
    target_include_directories(${name} PRIVATE ${ZB_SOURCE_ROOT} ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_options(${name} PRIVATE -municode)
    if(NOT ARG_CONSOLE)
        target_link_options(${name} PRIVATE -mwindows)
    endif()
    target_link_libraries(${name} PRIVATE ${ARG_LIBS})
endfunction()

# Adds a top-level folder of the tree with its Windows headers level.
function(zb_add_suite_folder dir)
    if(dir IN_LIST ZB_PRODUCT_FOLDERS)
        set(level ${ZB_XP_LEVEL})
    else()
        set(level ${ZB_LATEST_LEVEL})
    endif()
    # A folder inherits the directory's definitions when it is added.
    get_directory_property(base COMPILE_DEFINITIONS)
    set_directory_properties(PROPERTIES COMPILE_DEFINITIONS "${base};${level}")
    add_subdirectory(${dir})
    set_directory_properties(PROPERTIES COMPILE_DEFINITIONS "${base}")
endfunction()
