# Tests of a cross build: GoogleTest built from source with the cross compiler, and every test
# program run through a wrapper (Wine for Windows) that keeps its state in the build tree.
set(TOVRIK_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${TOVRIK_GTEST_SOURCE_DIR} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# GoogleTest's own build names its targets GTest::gtest and GTest::gtest_main too.
# Test programs carry their runtime, so that Wine needs no MinGW DLLs on its path.
foreach(target gtest gtest_main)
    target_link_options(${target} INTERFACE -static)
endforeach()

if(WIN32 AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
    set(TOVRIK_WINE_ROOT ${PROJECT_BINARY_DIR}/wine)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        set(TOVRIK_WINE_BITS 32)
    else()
        set(TOVRIK_WINE_BITS 64)
    endif()
    configure_file(${PROJECT_SOURCE_DIR}/tests/windows/wine_run.sh.in
                   ${PROJECT_BINARY_DIR}/wine_run.sh @ONLY
                   FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                    WORLD_READ WORLD_EXECUTE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_BINARY_DIR}/wine_run.sh)
endif()
