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
                     ${TOVRIK_OTHER_ARCH_BIN}/tovrikctl.exe
            DESTINATION ${other} COMPONENT runtime)
endif()
# The read-me with CR LF line ends, for Notepad before Windows 10 1809 and for every editor's
# guess; the same copy goes into the MSI.
configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/README.txt ${PROJECT_BINARY_DIR}/README.txt
               @ONLY NEWLINE_STYLE CRLF)
install(FILES ${PROJECT_BINARY_DIR}/README.txt DESTINATION . COMPONENT runtime)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME tovrik)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "TOVRIK project")
set(CPACK_SYSTEM_NAME windows)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
include(CPack)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/icons/windows/tovrik.ico DESTINATION . COMPONENT runtime)

# The MSI (cmake --build <32-bit tree> --target msi), made by wixl from
# packaging/windows/tovrik.wxs.in and finished by build_msi.py with msitools. 32-bit only: its
# programs go to Program Files (x86) and its tovrik.dll to the 32-bit system folder. The 64-bit
# DLL joins the SDK folder when TOVRIK_OTHER_ARCH_BIN names the 64-bit build.
find_program(TOVRIK_WIXL wixl)
find_program(TOVRIK_MSIBUILD msibuild)
find_program(TOVRIK_PYTHON3 python3)
if(TOVRIK_WIN_ARCH_DIR STREQUAL x86 AND TOVRIK_WIXL AND TOVRIK_MSIBUILD AND TOVRIK_PYTHON3)
    # The programs in the install folder, by target.
    set(TOVRIK_MSI_PROGRAMS TOVRIK tovrik-sample tovrikctl)

    set(TOVRIK_MSI_ICON ${PROJECT_SOURCE_DIR}/packaging/icons/windows/tovrik.ico)
    # wixl takes files only by paths relative to where it runs, the build folder.
    file(RELATIVE_PATH TOVRIK_MSI_SOURCE ${PROJECT_BINARY_DIR} ${PROJECT_SOURCE_DIR})
    set(components Icon ReadMe Licence SdkHeader SdkDefX86 SdkDefX64 SdkDllX86 SdkExampleX86
                   SdkExampleSource SystemDll MenuShortcuts)
    set(TOVRIK_MSI_PROGRAM_COMPONENTS "")
    foreach(program IN LISTS TOVRIK_MSI_PROGRAMS)
        string(MAKE_C_IDENTIFIER "Program_${program}" id)
        string(APPEND TOVRIK_MSI_PROGRAM_COMPONENTS
               "          <Component Id=\"${id}\" Guid=\"*\">\n"
               "            <File Id=\"${id}File\" Source=\"bin/$<TARGET_FILE_NAME:${program}>\" KeyPath=\"yes\" />\n"
               "          </Component>\n")
        list(APPEND components ${id})
    endforeach()
    set(TOVRIK_MSI_X64_COMPONENTS "")
    if(TOVRIK_OTHER_ARCH_BIN)
        file(RELATIVE_PATH other_bin ${PROJECT_BINARY_DIR} ${TOVRIK_OTHER_ARCH_BIN})
        string(APPEND TOVRIK_MSI_X64_COMPONENTS
               "            <Directory Id=\"SDKX64\" Name=\"x64\">\n"
               "              <Component Id=\"SdkDllX64\" Guid=\"*\">\n"
               "                <File Id=\"SdkDllX64File\" Name=\"tovrik.dll\" Source=\"${other_bin}/tovrik.dll\" KeyPath=\"yes\" />\n"
               "              </Component>\n"
               "            </Directory>\n")
        list(APPEND components SdkDllX64)
    endif()
    set(TOVRIK_MSI_COMPONENT_REFS "")
    foreach(id IN LISTS components)
        string(APPEND TOVRIK_MSI_COMPONENT_REFS "      <ComponentRef Id=\"${id}\" />\n")
    endforeach()

    configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/tovrik.wxs.in
                   ${PROJECT_BINARY_DIR}/tovrik.wxs.configured @ONLY)
    file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/tovrik.wxs
         INPUT ${PROJECT_BINARY_DIR}/tovrik.wxs.configured)
    set(TOVRIK_MSI ${PROJECT_BINARY_DIR}/tovrik-${PROJECT_VERSION}-x86.msi)
    set(TOVRIK_BUILD_MSI ${TOVRIK_PYTHON3} ${PROJECT_SOURCE_DIR}/packaging/windows/build_msi.py
                         --wixl ${TOVRIK_WIXL})
    add_custom_command(
        OUTPUT ${TOVRIK_MSI}
        COMMAND ${TOVRIK_BUILD_MSI} ${PROJECT_BINARY_DIR}/tovrik.wxs ${TOVRIK_MSI}
        DEPENDS ${PROJECT_BINARY_DIR}/tovrik.wxs ${TOVRIK_MSI_PROGRAMS} tovrik set_frequency
                ${TOVRIK_MSI_ICON} ${PROJECT_BINARY_DIR}/README.txt
                ${PROJECT_SOURCE_DIR}/packaging/windows/build_msi.py
        WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
        COMMENT "wixl: tovrik-${PROJECT_VERSION}-x86.msi"
        VERBATIM)
    add_custom_target(msi DEPENDS ${TOVRIK_MSI})

    if(TOVRIK_BUILD_TESTS)
        # Install, use and uninstall under Wine; scripts/test.sh builds the msi target first.
        add_test(NAME msi_e2e
                 COMMAND ${PROJECT_SOURCE_DIR}/tests/windows/win_msi_e2e.sh "${TOVRIK_EMU}"
                         ${CMAKE_CROSSCOMPILING_EMULATOR} ${TOVRIK_MSI}
                         $<TARGET_FILE:set_frequency> ${PROJECT_BINARY_DIR}/tests/windows/msi)
        tovrik_wine_e2e_properties(msi_e2e 300)
        # The tables build_msi.py finishes, read back with msitools: no Wine needed.
        add_test(NAME msi_tables
                 COMMAND ${PROJECT_SOURCE_DIR}/tests/windows/msi_tables.sh ${TOVRIK_MSI}
                         ${PROJECT_VERSION} ${PROJECT_BINARY_DIR}/tests/windows/msi_tables)
        set_tests_properties(msi_tables PROPERTIES LABELS unit)
        # Shared system DLL, same-version upgrade and PATH under Wine's (64-bit) msiexec.
        add_test(NAME msi_install_e2e
                 COMMAND ${PROJECT_SOURCE_DIR}/tests/windows/win_msi_install.sh
                         ${CMAKE_CROSSCOMPILING_EMULATOR} ${TOVRIK_MSI}
                         $<TARGET_FILE:tovrik_other_product>
                         ${PROJECT_BINARY_DIR}/tests/windows/msi_install ${TOVRIK_BUILD_MSI})
        tovrik_wine_e2e_properties(msi_install_e2e 300)
    endif()
endif()
