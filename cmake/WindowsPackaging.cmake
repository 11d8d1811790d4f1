# The Windows ZIP: tovrik.dll for both architectures with its header, .def files and example.
# Included last by the top-level CMakeLists.txt in a Windows build. One build makes one
# architecture; the other one's bin/ folder is taken from TOVRIK_OTHER_ARCH_BIN, e.g.
#   cmake -S . -B build-win32 --toolchain cmake/mingw-i686.cmake \
#         -DTOVRIK_OTHER_ARCH_BIN=$PWD/build-win64/bin
set(TOVRIK_OTHER_ARCH_BIN "" CACHE PATH "bin/ of the other Windows architecture's build")
if(TOVRIK_OTHER_ARCH_BIN)
    if(TOVRIK_WIN_ARCH_DIR STREQUAL x86)
        set(other x64)
    else()
        set(other x86)
    endif()
    install(PROGRAMS ${TOVRIK_OTHER_ARCH_BIN}/tovrik.dll ${TOVRIK_OTHER_ARCH_BIN}/set_frequency.exe
                     ${TOVRIK_OTHER_ARCH_BIN}/TOVRIK.exe ${TOVRIK_OTHER_ARCH_BIN}/tovrik-sample.exe
            DESTINATION ${other} COMPONENT runtime)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/packaging/windows/README.txt DESTINATION . COMPONENT runtime)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME tovrik)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "TOVRIK project")
set(CPACK_SYSTEM_NAME windows)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
include(CPack)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/icons/windows/tovrik.ico DESTINATION . COMPONENT runtime)
