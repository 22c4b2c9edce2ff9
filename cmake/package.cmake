# The release package: the library with its symbols, both import libraries,
# the header, CMake and pkg-config files, the integration guide, the tools to
# try it without a console, the dissector and the example sources, zipped by
# CPack with a SHA256SUMS over every file and a .sha256 beside the zip.
#   bash scripts/package.sh

# The MSVC form of the import library, made from the same .def.
find_program(IXA_LLVM_DLLTOOL llvm-dlltool REQUIRED)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  set(ixa_import_machine i386)
  set(ixa_package_system win32)
else()
  set(ixa_import_machine i386:x86-64)
  set(ixa_package_system win64)
endif()
set(ixa_msvc_import ${CMAKE_BINARY_DIR}/lib/IxaLoader.lib)
add_custom_command(OUTPUT ${ixa_msvc_import}
  COMMAND ${IXA_LLVM_DLLTOOL} -m ${ixa_import_machine} -d ${PROJECT_SOURCE_DIR}/loader/IxaLoader.def
    -l ${ixa_msvc_import}
  DEPENDS ${PROJECT_SOURCE_DIR}/loader/IxaLoader.def)
add_custom_target(ixa_msvc_import ALL DEPENDS ${ixa_msvc_import})

install(TARGETS IxaLoader RUNTIME DESTINATION bin ARCHIVE DESTINATION lib)
# Its symbols, beside it: public symbols for Windows debuggers, DWARF for gdb
# and for its own stack traces under Wine.
install(FILES ${CMAKE_BINARY_DIR}/bin/IxaLoader.pdb ${CMAKE_BINARY_DIR}/bin/IxaLoader.dll.debug DESTINATION bin)
install(FILES ${ixa_msvc_import} ${PROJECT_SOURCE_DIR}/loader/IxaLoader.def DESTINATION lib)
install(FILES ${PROJECT_SOURCE_DIR}/include/IxaLoader.h DESTINATION include)
install(TARGETS ixa_probe console_simulator sample_host dialog_program RUNTIME DESTINATION bin)
install(FILES $<TARGET_FILE:processor_module> DESTINATION bin)
install(FILES ${PROJECT_SOURCE_DIR}/docs/INTEGRATION.md DESTINATION doc)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/CHANGELOG.md DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/docs/PACKAGE-README.md DESTINATION . RENAME README.md)
install(FILES ${PROJECT_SOURCE_DIR}/tools/wireshark/ixaloader.lua DESTINATION tools/wireshark)
# The dissector is loaded as it is, so its version is written in it.
file(STRINGS ${PROJECT_SOURCE_DIR}/tools/wireshark/ixaloader.lua ixa_lua_version REGEX "^local VERSION = ")
if(NOT ixa_lua_version STREQUAL "local VERSION = \"${PROJECT_VERSION}\"")
  message(FATAL_ERROR "tools/wireshark/ixaloader.lua says ${ixa_lua_version}; the project is ${PROJECT_VERSION}")
endif()

# A CMake package and a pkg-config file over the unpacked package; both find
# everything relative to their own folder.
include(CMakePackageConfigHelpers)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/IxaLoaderConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/IxaLoaderConfig.cmake ${CMAKE_BINARY_DIR}/IxaLoaderConfigVersion.cmake
  DESTINATION lib/cmake/IxaLoader)
configure_file(${CMAKE_CURRENT_LIST_DIR}/ixaloader.pc.in ${CMAKE_BINARY_DIR}/ixaloader.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/ixaloader.pc DESTINATION lib/pkgconfig)

# What a host developer builds from, keeping the source paths: the sample
# host and the C host. The probe ships as a program only: its sources need
# the library's internal headers.
foreach(source tools/sample_host/sample_host.cpp tools/c_host/ixa_c_host.c)
  get_filename_component(folder ${source} DIRECTORY)
  install(FILES ${PROJECT_SOURCE_DIR}/${source} DESTINATION examples/${folder})
endforeach()

# Last, so that it covers everything installed before it.
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/write_sha256sums.cmake)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME IxaLoader)
set(CPACK_PACKAGE_FILE_NAME IxaLoader-${PROJECT_VERSION}-${ixa_package_system})
# <zip>.sha256 beside the zip: "<hash>  <file name>", as sha256sum -c reads.
set(CPACK_PACKAGE_CHECKSUM SHA256)
include(CPack)
