# IxaLoader::IxaLoader, from the unpacked release package:
#   find_package(IxaLoader 1.2 CONFIG REQUIRED)
#   target_link_libraries(host PRIVATE IxaLoader::IxaLoader)
# The header, the import library of the consumer's toolchain (IxaLoader.lib
# for MSVC and MSVC-style clang, libIxaLoader.dll.a for MinGW) and the DLL
# as the imported location. The library is 32-bit: a 64-bit consumer finds
# no suitable version.
get_filename_component(_ixa_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)

if(NOT TARGET IxaLoader::IxaLoader)
  if(MSVC OR CMAKE_C_SIMULATE_ID STREQUAL "MSVC" OR CMAKE_CXX_SIMULATE_ID STREQUAL "MSVC")
    set(_ixa_import_library "${_ixa_prefix}/lib/IxaLoader.lib")
  else()
    set(_ixa_import_library "${_ixa_prefix}/lib/libIxaLoader.dll.a")
  endif()
  add_library(IxaLoader::IxaLoader SHARED IMPORTED)
  set_target_properties(IxaLoader::IxaLoader PROPERTIES
    IMPORTED_LOCATION "${_ixa_prefix}/bin/IxaLoader.dll"
    IMPORTED_IMPLIB "${_ixa_import_library}"
    INTERFACE_INCLUDE_DIRECTORIES "${_ixa_prefix}/include")
  unset(_ixa_import_library)
endif()
unset(_ixa_prefix)
