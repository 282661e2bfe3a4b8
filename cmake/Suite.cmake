# Settings shared by every target of the suite.

add_compile_definitions(UNICODE _UNICODE NOMINMAX STRICT
                        _WIN32_WINNT=0x0A00 WINVER=0x0A00 NTDDI_VERSION=0x0A000000)
add_compile_options($<$<COMPILE_LANGUAGE:CXX,C>:-Wall> $<$<COMPILE_LANGUAGE:CXX,C>:-Wextra>
                    $<$<COMPILE_LANGUAGE:CXX,C>:-Wno-missing-field-initializers>)
# A bare Wine prefix has no MinGW runtime DLLs: link everything statically.
add_link_options(-static -static-libgcc -static-libstdc++)

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
    add_executable(${name} ${ARG_SOURCES})
    target_include_directories(${name} PRIVATE ${ZB_SOURCE_ROOT} ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_options(${name} PRIVATE -municode)
    if(NOT ARG_CONSOLE)
        target_link_options(${name} PRIVATE -mwindows)
    endif()
    target_link_libraries(${name} PRIVATE ${ARG_LIBS})
endfunction()
