# The Windows ZIP: tovrik.dll with its header, .def and example. Included last by the
# top-level CMakeLists.txt in a Windows build.
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME tovrik)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "TOVRIK project")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
include(CPack)
