# Installation. The launcher lives in the game's own directory and updates the
# game there, so that directory must belong to the player. Two components:
#
# "launcher", what a player needs: Launcher, LauncherCli, UpDateLauncher,
#   libTarnwellCompress.so (found through an rpath of $ORIGIN), the start
#   script corvatheon2-start, the icon, and a menu entry that runs the script.
#   The game directory is the prefix itself (/opt/corvatheon2 by default,
#   ~/Games/corvatheon2, ...), or <prefix>/lib/corvatheon2 for /usr and
#   /usr/local. The menu entry goes where menus look: <prefix>/share for /usr
#   and /usr/local, /usr/local/share for another prefix installed by root,
#   ${XDG_DATA_HOME:-~/.local/share} when a player installs.
#   A player who installs without --prefix while the default is not writable
#   gets ${XDG_DATA_HOME:-~/.local/share}/corvatheon2, a directory they own.
#   A root-owned installation is a template: corvatheon2-start copies the
#   launcher into the player's data directory once and runs it there.
# "tools", the operators' programs (mkpatch, patch-server) under bin/.
#
#   cmake --install build/release --component launcher [--prefix DIR]
#   cpack --config build/release/CPackConfig.cmake   (both, as .deb and .tar.gz)
include(GNUInstallDirs)

if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT AND NOT WIN32)
  set(CMAKE_INSTALL_PREFIX "/opt/corvatheon2" CACHE PATH "Installation prefix" FORCE)
endif()

if(NOT WIN32)
  # Decided when installing: `cmake --install --prefix` may differ from the
  # configured prefix, and who installs matters.
  install(CODE "set(launcher_default_prefix \"${CMAKE_INSTALL_PREFIX}\")" COMPONENT launcher)
  install(CODE [[
    set(data_home "$ENV{XDG_DATA_HOME}")
    if(NOT data_home)
      set(data_home "$ENV{HOME}/.local/share")
    endif()
    execute_process(COMMAND id -u OUTPUT_VARIABLE launcher_uid OUTPUT_STRIP_TRAILING_WHITESPACE)
    if("$ENV{DESTDIR}" STREQUAL "" AND CMAKE_INSTALL_PREFIX STREQUAL launcher_default_prefix)
      execute_process(COMMAND sh -c "mkdir -p \"$1\" 2>/dev/null && test -w \"$1\"" sh
                              "${CMAKE_INSTALL_PREFIX}" RESULT_VARIABLE not_writable)
      if(not_writable)
        set(CMAKE_INSTALL_PREFIX "${data_home}/corvatheon2")
        message(STATUS "${launcher_default_prefix} is not writable: installing for this "
                       "user in ${CMAKE_INSTALL_PREFIX}")
      endif()
    endif()
    set(launcher_dir ".")
    set(menu_home "${CMAKE_INSTALL_PREFIX}/share")
    if(CMAKE_INSTALL_PREFIX MATCHES "^/usr(/local)?/?$")
      set(launcher_dir "lib/corvatheon2")
    elseif(NOT "$ENV{DESTDIR}" STREQUAL "")
      # A package whose prefix is the game directory (an archive): the start
      # script's --menu makes the entry where it is unpacked.
      set(menu_home "")
    elseif(launcher_uid STREQUAL "0")
      set(menu_home "/usr/local/share")
    else()
      set(menu_home "${data_home}")
    endif()
    string(REGEX REPLACE "/\\.$" "" launcher_home "${CMAKE_INSTALL_PREFIX}/${launcher_dir}")
  ]] COMPONENT launcher)

  set(launcher_programs LauncherCli UpDateLauncher)
  if(TARGET Launcher)
    list(APPEND launcher_programs Launcher)
  endif()
  install(TARGETS ${launcher_programs} RUNTIME DESTINATION "\${launcher_dir}" COMPONENT launcher)
  install(TARGETS TarnwellCompress LIBRARY DESTINATION "\${launcher_dir}" COMPONENT launcher)
  install(PROGRAMS ${PROJECT_SOURCE_DIR}/res/linux/corvatheon2-start
          DESTINATION "\${launcher_dir}" COMPONENT launcher)
  install(FILES ${PROJECT_SOURCE_DIR}/res/icon/128-256.png DESTINATION "\${launcher_dir}"
          RENAME corvatheon2-launcher.png COMPONENT launcher)
  install(CODE [[
    if(menu_home)
      set(desktop "$ENV{DESTDIR}${menu_home}/applications/corvatheon2-launcher.desktop")
      file(WRITE "${desktop}" "[Desktop Entry]
Type=Application
Name=Corvatheon2
Comment=Update and start Corvatheon2
Exec=\"${launcher_home}/corvatheon2-start\"
Icon=corvatheon2-launcher
Terminal=false
Categories=Game;
")
      message(STATUS "Installing: ${desktop}")
      # file(INSTALL) puts DESTDIR in front itself.
      file(INSTALL "$ENV{DESTDIR}${launcher_home}/corvatheon2-launcher.png"
           DESTINATION "${menu_home}/icons/hicolor/256x256/apps")
    endif()
    if(launcher_uid STREQUAL "0" AND "$ENV{DESTDIR}" STREQUAL "")
      message(STATUS "${launcher_home} belongs to root: players cannot update it there; "
                     "corvatheon2-start (the menu entry) copies the launcher into each "
                     "player's ~/.local/share/corvatheon2 and runs it there")
    endif()
  ]] COMPONENT launcher)
else()
  # The Windows directory: the programs and the library, nothing else.
  set(launcher_programs LauncherCli UpDateLauncher)
  if(TARGET Launcher)
    list(APPEND launcher_programs Launcher)
  endif()
  install(TARGETS ${launcher_programs} RUNTIME DESTINATION . COMPONENT launcher)
  install(TARGETS TarnwellCompress RUNTIME DESTINATION . LIBRARY DESTINATION . COMPONENT launcher)
  return()
endif()
install(TARGETS mkpatch patch-server RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)

# Packages: the player's (corvatheon2-launcher) and the operators'
# (corvatheon2-patch-tools), each as a .deb (under /usr) and a .tar.gz (the
# game directory itself for the player: unpack it where the player owns it).
set(CPACK_GENERATOR DEB TGZ)
set(CPACK_PACKAGE_NAME corvatheon2)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Corvatheon2 launcher team <launcher@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Corvatheon2 launcher and patch tools")
set(CPACK_COMPONENTS_ALL launcher tools)
set(CPACK_COMPONENT_LAUNCHER_DESCRIPTION "The Corvatheon2 launcher: updates and starts the game")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION "Patch package tools for the Corvatheon2 launcher (mkpatch, patch-server)")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_LAUNCHER_PACKAGE_NAME corvatheon2-launcher)
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME corvatheon2-patch-tools)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_ARCHIVE_LAUNCHER_FILE_NAME corvatheon2-launcher-${PROJECT_VERSION}-linux)
set(CPACK_ARCHIVE_TOOLS_FILE_NAME corvatheon2-patch-tools-${PROJECT_VERSION}-linux)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
# Packages are staged with DESTDIR, so the rules above see the real prefix.
set(CPACK_SET_DESTDIR ON)
# .deb under /usr; archives hold the directory itself.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/CPackPrefix.cmake)
include(CPack)
