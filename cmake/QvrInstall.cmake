# What `cmake --install <build> --prefix <dir>` puts under <dir>: the program
# and the demo, the desktop menu entry and its icon. The screenshot renderer
# stays in the build.
include(GNUInstallDirs)

install(TARGETS qvr1pc qvr1pc-demo
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/dist/qvr1pc.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/dist/qvr1pc.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
