# The Debian packages, made by CPack from an existing build (scripts/package.sh):
#   kryvane      the programs, man page, menu entry, icons, completions, AppStream data
#   kryvane-dev  the component library with its headers, CMake package and kryvane.pc
# Dependencies are computed by dpkg-shlibdeps from the linked libraries.

# Everything not marked otherwise belongs to the programs' package.
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME runtime)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kryvane)
set(CPACK_PACKAGE_VENDOR "The Kryvane developers")
set(CPACK_PACKAGE_CONTACT "${KRYVANE_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KRYVANE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${KRYVANE_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME kryvane)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION utils)
# Qt loads the SVG icons through plugins, which dpkg-shlibdeps cannot see; it adds the rest.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "libqt6svg6")
# The first line of a description is the package's summary.
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "encrypt and decrypt files compatible with Kryvane 2.0
Kryvane encrypts and decrypts one file at a time under a passphrase, with one
of seventeen ciphers and one of ten hash functions, byte for byte compatible
with files made by Kryvane 2.0 for Windows. It comes as a desktop program,
kryvane, and a command-line tool, kryvane-cli.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME kryvane-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DESCRIPTION "Kryvane component library (development files)
The ciphers, hash functions and stream format of Kryvane as a C++20 library,
to read and write Kryvane files from other programs: headers under
include/kryvane/, the static library, a CMake package (find_package(Kryvane))
and a pkg-config file (kryvane).")

include(CPack)
