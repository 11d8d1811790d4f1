# A program that loads libtovrik.so with dlopen: it lives in bin/ beside the library and
# finds it there, or in ../lib once installed. DT_RPATH rather than DT_RUNPATH: a runpath
# only serves dlopen calls made by the object that carries it, and an interposed dlopen (the
# sanitizers' runtime) would not see it.
function(tovrik_dlopen_client target)
    add_dependencies(${target} tovrik)
    target_link_libraries(${target} PRIVATE ${CMAKE_DL_LIBS})
    target_link_options(${target} PRIVATE "LINKER:--disable-new-dtags")
    set_target_properties(${target} PROPERTIES
        RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin
        BUILD_WITH_INSTALL_RPATH ON
        INSTALL_RPATH "\$ORIGIN;\$ORIGIN/../lib")
endfunction()
