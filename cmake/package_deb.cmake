# `make deb`: a Debian package of what `make install` installs (the six
# programs, their manual pages and bash completion), made by CPack from the
# install rules of install.cmake. The suite stand-ins are left out: a real
# suite brings its own commands. deb_staging.cmake puts the staged tree into
# Debian's shape before it is packed.
set(VT_DEB_MAINTAINER "Vortan replay tools <vortan-replay@example.org>")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vortan-replay-gen)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${VT_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VT_DEB_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "replay packages for the Vortan load engine from captured logs")
set(CPACK_PACKAGE_DESCRIPTION
    "vtu_replay_gen turns captured SOAP/HTTP traffic logs into a replay package
for the load engine of the Vortan load-testing suite: per-worker request and
index files, a scenario and a script, and a manifest of the package.

vt_package checks a package against its index files and manifest, profiles
and plots its traffic, and previews a run without writing anything;
vt_loggen writes synthetic log trees for tries and tests.")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/deb_staging.cmake)
set(CPACK_SOURCE_DIR ${PROJECT_SOURCE_DIR})
configure_file(${PROJECT_SOURCE_DIR}/cmake/deb/changelog.in ${PROJECT_BINARY_DIR}/deb_changelog @ONLY)
set(CPACK_VT_CHANGELOG ${PROJECT_BINARY_DIR}/deb_changelog)
set(CPACK_VT_COPYRIGHT ${PROJECT_SOURCE_DIR}/cmake/deb/copyright)
# CPack installs what is built; it does not build everything first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
include(CPack)
