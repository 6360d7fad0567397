# The engine as a C++ library for other programs, included from the
# top-level CMakeLists.txt once etiquem_engine is defined.
#
# `cmake --install build --prefix DIR` lays out:
#   DIR/include/etiquem/etiquem.h, structured.h   (the public interface)
#   DIR/lib/libetiquem_engine.a
#   DIR/lib/cmake/etiquem/                        (find_package(etiquem):
#                                                  the target etiquem::engine)
#   DIR/lib/pkgconfig/etiquem.pc                  (pkg-config etiquem)
# Users compile with C++20 and link with threads; both configs say so.

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set_target_properties(etiquem_engine PROPERTIES EXPORT_NAME engine)
add_library(etiquem::engine ALIAS etiquem_engine)
# A Release archive is built for link-time optimisation; fat objects keep
# machine code beside it, so that any linker can use the installed copy.
if(etiquem_ipo AND CMAKE_BUILD_TYPE STREQUAL "Release" AND
   CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  target_compile_options(etiquem_engine PRIVATE -ffat-lto-objects)
endif()

install(TARGETS etiquem_engine EXPORT etiquemTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/etiquem/etiquem.h
              ${PROJECT_SOURCE_DIR}/include/etiquem/structured.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/etiquem)
install(EXPORT etiquemTargets NAMESPACE etiquem::
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/etiquem)

configure_package_config_file(
  ${PROJECT_SOURCE_DIR}/cmake/etiquemConfig.cmake.in
  ${PROJECT_BINARY_DIR}/etiquemConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/etiquem)
if(PROJECT_VERSION)
  set(etiquem_library_version ${PROJECT_VERSION})
else()
  set(etiquem_library_version 1.0.0)
endif()
write_basic_package_version_file(
  ${PROJECT_BINARY_DIR}/etiquemConfigVersion.cmake
  VERSION ${etiquem_library_version} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/etiquemConfig.cmake
              ${PROJECT_BINARY_DIR}/etiquemConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/etiquem)

# pkg-config: paths relative to the file, so the tree may be moved.
configure_file(${PROJECT_SOURCE_DIR}/cmake/etiquem.pc.in
               ${PROJECT_BINARY_DIR}/etiquem.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/etiquem.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
