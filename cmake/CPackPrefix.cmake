# Read by cpack for each generator (packages are staged with DESTDIR, so the
# prefix is CPACK_INSTALL_PREFIX): a .deb installs under /usr, an archive
# holds the installation directory itself.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_INSTALL_PREFIX "/usr")
else()
  set(CPACK_INSTALL_PREFIX "/")
endif()
