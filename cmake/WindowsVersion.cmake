# Version records for the Windows files that have no resource script of their own. Explorer
# shows them, and the MSI's File table carries them (packaging/windows/build_msi.py reads them
# back): with a version, Windows Installer neither overwrites nor removes a newer file of the
# same name, such as another product's tovrik.dll in the system folder.
function(tovrik_version_resource target file description)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL SHARED_LIBRARY)
        set(TOVRIK_VERSION_FILETYPE VFT_DLL)
    else()
        set(TOVRIK_VERSION_FILETYPE VFT_APP)
    endif()
    set(TOVRIK_VERSION_FILE ${file})
    set(TOVRIK_VERSION_DESCRIPTION ${description})
    get_filename_component(TOVRIK_VERSION_INTERNAL ${file} NAME_WE)
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
    target_sources(${target} PRIVATE ${rc})
endfunction()
