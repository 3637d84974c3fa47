# cpack's pre-build script (cmake/QvrPackage.cmake): puts the copyright file
# and the gzipped Debian changelog into usr/share/doc/qvr1pc of the staging
# tree of a DEB, after the install step and before the package is made.
# Modes are set, not left to the umask: the package carries them.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
set(share ${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/share)
set(docs ${share}/doc/qvr1pc)
file(MAKE_DIRECTORY ${docs})
file(COPY_FILE ${CPACK_QVR_DEBIAN_DOCS}/copyright ${docs}/copyright)
execute_process(COMMAND gzip -9nc ${CPACK_QVR_DEBIAN_DOCS}/changelog.Debian
  OUTPUT_FILE ${docs}/changelog.Debian.gz COMMAND_ERROR_IS_FATAL ANY)
file(CHMOD ${share}/doc ${docs} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
  GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
file(CHMOD ${docs}/copyright ${docs}/changelog.Debian.gz PERMISSIONS OWNER_READ OWNER_WRITE
  GROUP_READ WORLD_READ)
