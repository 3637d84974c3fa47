# What `cmake --install <build> --prefix <dir>` puts under <dir>: the program
# and the demo, the desktop menu entry and its icon, the AppStream metainfo
# and the manual page. The screenshot renderer stays in the build.
include(GNUInstallDirs)

install(TARGETS qvr1pc qvr1pc-demo
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/dist/qvr1pc.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/dist/qvr1pc.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/dist/io.github.qvr1pc.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The manual page, compressed as man pages are installed (gzip -n: no name or
# time in the header, so the same page gives the same bytes), at configure
# time, which an edit of the page triggers: installs running side by side
# (the ctest cases) only read it. The demo's page is a link to it.
set(QVR_MAN_PAGE ${PROJECT_SOURCE_DIR}/docs/qvr1pc.1)
set(QVR_MAN_GZ ${PROJECT_BINARY_DIR}/qvr1pc.1.gz)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${QVR_MAN_PAGE})
execute_process(COMMAND gzip -9nc ${QVR_MAN_PAGE} OUTPUT_FILE ${QVR_MAN_GZ}
  COMMAND_ERROR_IS_FATAL ANY)
install(FILES ${QVR_MAN_GZ} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(CODE "set(man1 \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_MANDIR}/man1\")
  message(STATUS \"Installing: \${man1}/qvr1pc-demo.1.gz\")
  file(CREATE_LINK qvr1pc.1.gz \"\${man1}/qvr1pc-demo.1.gz\" SYMBOLIC)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${man1}/qvr1pc-demo.1.gz\")")
