# Installation layout. The launcher lives in the game's own directory, so the
# "launcher" component puts its programs and the decompressor library at the
# top of the prefix (they find the library through an rpath of $ORIGIN):
#   <prefix>/Launcher, LauncherCli, UpDateLauncher, libTarnwellCompress.so
#   <prefix>/share/applications/corvatheon2-launcher.desktop
#   <prefix>/share/icons/hicolor/256x256/apps/corvatheon2-launcher.png
# The "tools" component holds the operators' programs (mkpatch, patch-server)
# under bin/; CPack packs it as a .deb.
include(GNUInstallDirs)

set(launcher_programs LauncherCli UpDateLauncher)
if(TARGET Launcher)
  list(APPEND launcher_programs Launcher)
endif()
install(TARGETS ${launcher_programs} RUNTIME DESTINATION . COMPONENT launcher)
install(TARGETS TarnwellCompress LIBRARY DESTINATION . COMPONENT launcher)
# The menu entry names the installation directory, known only at install time
# (cmake --install --prefix may differ from the configured prefix).
install(CODE [[
  set(desktop "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/share/applications/corvatheon2-launcher.desktop")
  file(WRITE "${desktop}" "[Desktop Entry]
Type=Application
Name=Corvatheon2
Comment=Update and start Corvatheon2
Path=${CMAKE_INSTALL_PREFIX}
Exec=${CMAKE_INSTALL_PREFIX}/Launcher
Icon=corvatheon2-launcher
Terminal=false
Categories=Game;
")
  message(STATUS "Installing: ${desktop}")
]] COMPONENT launcher)
install(FILES ${PROJECT_SOURCE_DIR}/res/icon/128-256.png DESTINATION share/icons/hicolor/256x256/apps
        RENAME corvatheon2-launcher.png COMPONENT launcher)

if(WIN32)
  # The Windows directory: the programs and the library, nothing else.
  return()
endif()
install(TARGETS mkpatch patch-server RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvatheon2-patch-tools)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Corvatheon2 launcher team <launcher@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Patch package tools for the Corvatheon2 launcher (mkpatch, patch-server)")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME corvatheon2-patch-tools)
set(CPACK_DEBIAN_TOOLS_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
