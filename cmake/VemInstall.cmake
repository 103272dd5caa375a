# Installation: what a client builds and runs against.
#
#   <prefix>/lib/libVemPlatform.so      the COM runtime a client links
#   <prefix>/lib/libVemComServer.so     the server module, loaded through the registry
#   <prefix>/bin/vem                    the command-line tool
#   <prefix>/include/vem/*.h            the client interfaces
#   <prefix>/include/vem/Platform/*.h   the platform's COM types and calls they use
#   <prefix>/lib/cmake/VemComServer/    find_package(VemComServer): VemComServer::Platform
#   <prefix>/lib/pkgconfig/vemcomserver.pc
#
# One include directory serves a client: <prefix>/include. The public headers
# include "Platform/..." which the compiler finds beside them first (installed)
# or through src/ (in the tree); the platform headers include each other by
# their bare names, next to each other in both places.
include(CMakePackageConfigHelpers)

set(VEM_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/VemComServer)

# Installed programs and modules find the libraries relative to themselves,
# wherever the prefix ends up.
file(RELATIVE_PATH vem_bin_to_lib /${CMAKE_INSTALL_BINDIR} /${CMAKE_INSTALL_LIBDIR})

# The platform headers a client compiles against (not the *Internal.h ones,
# nor the registry's store).
set(VEM_PUBLIC_PLATFORM_HEADERS
    ComBase.h ComUtil.h OleAuto.h Random.h Registry.h Text.h Unknwn.h Win32.h Windows.h WinTypes.h)
list(TRANSFORM VEM_PUBLIC_PLATFORM_HEADERS PREPEND ${VEM_SRC_DIR}/Platform/)
file(GLOB vem_public_headers ${VEM_INCLUDE_DIR}/vem/*.h)

target_include_directories(VemPlatform INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
set_target_properties(VemPlatform PROPERTIES EXPORT_NAME Platform)
install(TARGETS VemPlatform EXPORT VemComServerTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${vem_public_headers} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vem)
install(FILES ${VEM_PUBLIC_PLATFORM_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vem/Platform)

if(TARGET VemComServer)
  set_target_properties(VemComServer PROPERTIES INSTALL_RPATH "$ORIGIN")
  install(TARGETS VemComServer LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()

if(TARGET vem)
  set_target_properties(vem PROPERTIES INSTALL_RPATH "$ORIGIN/${vem_bin_to_lib}")
  # The installed tool finds the installed server module through this path,
  # relative to the tool's own directory, when the build tree's is not there.
  target_compile_definitions(
    vem PRIVATE VEM_INSTALLED_MODULE_RELPATH="${vem_bin_to_lib}/$<TARGET_FILE_NAME:VemComServer>")
  install(TARGETS vem RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(EXPORT VemComServerTargets NAMESPACE VemComServer:: DESTINATION ${VEM_PACKAGE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/VemComServerConfig.cmake.in
                              ${CMAKE_CURRENT_BINARY_DIR}/VemComServerConfig.cmake
                              INSTALL_DESTINATION ${VEM_PACKAGE_DIR}
                              PATH_VARS CMAKE_INSTALL_LIBDIR)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/VemComServerConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/VemComServerConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/VemComServerConfigVersion.cmake
        DESTINATION ${VEM_PACKAGE_DIR})

# pkg-config: the prefix is computed from the file's own place, so that the
# file stays right when the installed tree is moved or installed elsewhere
# with --prefix.
file(RELATIVE_PATH vem_pc_to_prefix /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" vem_pc_to_prefix "${vem_pc_to_prefix}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/vemcomserver.pc.in
               ${CMAKE_CURRENT_BINARY_DIR}/vemcomserver.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/vemcomserver.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
