# Helpers of the Win32 programs TOVRIK.exe and tovrik-sample.exe.

# Icon 128, the common-controls manifest and the version record of the resource script
# `rc_in` (a template naming them), compiled into `target`.
function(tovrik_windows_resources target rc_in)
    set(TOVRIK_RC_ICON ${PROJECT_SOURCE_DIR}/packaging/icons/windows/tovrik.ico)
    set(TOVRIK_RC_MANIFEST ${PROJECT_SOURCE_DIR}/app/windows/common_controls.manifest)
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
    configure_file(${rc_in} ${rc} @ONLY)
    target_sources(${target} PRIVATE ${rc})
    # The resource compiler's dependency scan does not see the files the script names.
    set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS "${TOVRIK_RC_ICON};${TOVRIK_RC_MANIFEST}")
    # No console window; the runtime is linked in, so the programs need only system DLLs.
    target_compile_definitions(${target} PRIVATE UNICODE _UNICODE)
    target_link_options(${target} PRIVATE -mwindows -municode -static)
    set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
    install(TARGETS ${target} RUNTIME DESTINATION ${TOVRIK_WIN_ARCH_DIR} COMPONENT runtime)
endfunction()
