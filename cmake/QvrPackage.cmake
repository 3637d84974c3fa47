# The Debian package of what cmake/QvrInstall.cmake installs, made after a
# build by `cpack -G DEB` in the build folder: qvr1pc_1.02-1_amd64.deb.
# The package takes the built programs as they are: cpack's install step
# builds nothing (not even the targets of `all`).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

# A placeholder: .invalid is the top-level domain reserved for addresses
# that reach nobody.
set(QVR_PACKAGE_MAINTAINER "QVR-1 PC developers <qvr1pc@qvr1pc.invalid>")

set(CPACK_PACKAGE_NAME qvr1pc)
set(CPACK_PACKAGE_VENDOR "QVR-1 PC developers")
set(CPACK_PACKAGE_CONTACT "${QVR_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "read and log the sensors of a QVR-1 measuring installation")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
  GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QVR_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends from the shared libraries the programs link (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The long text under the summary line; cpack indents its lines and marks
# the empty one.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "QVR-1 PC is the desktop front-end of the QVR-1 measuring installation.
Through a USB-serial adapter it polls a bus of up to sixteen Modbus RTU
sensors (addresses 50 to 65), shows their readings in a table, a live line
chart and bar gauges, keeps a CSV measurement log, writes the sensors'
configuration registers and shows every frame on the bus as a hex line.
Its interface is in Polish.

The package also holds qvr1pc-demo, the same window on a simulated bus of
sixteen sensors, which needs no adapter.")

# usr/share/doc/qvr1pc: the copyright file and the Debian changelog, only in
# the package (cmake/QvrDebianDocs.cmake adds them to cpack's staging tree).
set(QVR_DEBIAN_DOCS ${PROJECT_BINARY_DIR}/debian-docs)
configure_file(${PROJECT_SOURCE_DIR}/dist/debian/copyright.in ${QVR_DEBIAN_DOCS}/copyright @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/dist/debian/changelog.Debian.in
  ${QVR_DEBIAN_DOCS}/changelog.Debian @ONLY)
set(CPACK_QVR_DEBIAN_DOCS ${QVR_DEBIAN_DOCS})
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/QvrDebianDocs.cmake)

include(CPack)
