# tovrik.dll: the same operations as libtovrik.so with BSTR results and __stdcall exports.
# Included by library/CMakeLists.txt, after tovrik_library_core exists.
target_sources(tovrik_library_core PRIVATE windows/bstr_text.cpp)
target_link_libraries(tovrik_library_core PUBLIC oleaut32)

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(TOVRIK_DEF_FILE ${CMAKE_CURRENT_SOURCE_DIR}/windows/tovrik.def)
    set(TOVRIK_EXPORTS _DDSOut@12 _DDSSuspend@4 _FindUSB@4 _GetVers@4)
else()
    set(TOVRIK_DEF_FILE ${CMAKE_CURRENT_SOURCE_DIR}/windows/tovrik64.def)
    set(TOVRIK_EXPORTS DDSOut DDSSuspend FindUSB GetVers)
endif()
set(TOVRIK_EXPORTS ${TOVRIK_EXPORTS} PARENT_SCOPE)

add_library(tovrik SHARED windows/exports.cpp)
add_library(tovrik::tovrik ALIAS tovrik)
tovrik_version_resource(tovrik tovrik.dll "TOVRIK driver library")
target_link_libraries(tovrik PRIVATE tovrik_library_core)
# Static runtime: the DLL needs nothing beyond the system's own DLLs.
target_link_options(tovrik PRIVATE -static -static-libgcc -static-libstdc++
                    "${TOVRIK_DEF_FILE}")
set_target_properties(tovrik PROPERTIES
    PREFIX ""
    OUTPUT_NAME tovrik
    LINK_DEPENDS ${TOVRIK_DEF_FILE}
    RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)

install(TARGETS tovrik RUNTIME DESTINATION ${TOVRIK_WIN_ARCH_DIR} COMPONENT runtime)
install(FILES windows/tovrik_win.h DESTINATION include COMPONENT runtime)
# What a linking client needs: the names with the DLL's real import names.
install(FILES windows/tovrik-import.def RENAME tovrik.def DESTINATION lib/x86 COMPONENT runtime)
install(FILES windows/tovrik64.def RENAME tovrik.def DESTINATION lib/x64 COMPONENT runtime)

add_subdirectory(${PROJECT_SOURCE_DIR}/examples ${PROJECT_BINARY_DIR}/examples)
