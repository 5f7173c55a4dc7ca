# Installs the component library for other projects: libkryvane, its public headers under
# include/kryvane/, a CMake package (find_package(Kryvane) gives Kryvane::crypto) and kryvane.pc.
# All of it belongs to the "dev" component, except a shared library's run-time file.
include(CMakePackageConfigHelpers)

set(KRYVANE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Kryvane)

install(TARGETS kryvane_crypto EXPORT KryvaneTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev)

# The headers include each other as "crypto/x.h" in the source tree; installed, they say
# "kryvane/crypto/x.h", so that only include/ goes on a user's include path.
install(CODE "
  set(KRYVANE_SOURCE_DIR \"${PROJECT_SOURCE_DIR}\")
  set(KRYVANE_HEADER_STAGING \"${PROJECT_BINARY_DIR}/public-headers\")
  set(KRYVANE_VERSION_HEADER \"${PROJECT_BINARY_DIR}/generated/kryvane/version.h\")
  set(KRYVANE_INCLUDE_DESTINATION \"${CMAKE_INSTALL_INCLUDEDIR}/kryvane\")
" COMPONENT dev)
install(SCRIPT ${PROJECT_SOURCE_DIR}/cmake/InstallHeaders.cmake COMPONENT dev)

install(EXPORT KryvaneTargets NAMESPACE Kryvane:: DESTINATION ${KRYVANE_CMAKE_DIR}
  COMPONENT dev)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/KryvaneConfig.cmake.in
  ${PROJECT_BINARY_DIR}/KryvaneConfig.cmake INSTALL_DESTINATION ${KRYVANE_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/KryvaneConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/KryvaneConfig.cmake
  ${PROJECT_BINARY_DIR}/KryvaneConfigVersion.cmake
  DESTINATION ${KRYVANE_CMAKE_DIR} COMPONENT dev)

# kryvane.pc finds the prefix from its own place, so a staged or relocated install works too.
file(RELATIVE_PATH KRYVANE_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" KRYVANE_PC_TO_PREFIX "${KRYVANE_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/kryvane.pc.in ${PROJECT_BINARY_DIR}/kryvane.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/kryvane.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
  COMPONENT dev)
