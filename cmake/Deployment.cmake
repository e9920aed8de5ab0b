# Deployment values: the hosts the launcher talks to. The defaults point at the
# local demo server so that a fresh build works against `demo` out of the box;
# a production build sets them on the cmake command line, for example
#   -DLAUNCHER_VERSION_HOST=http://version.example.net
# Each value carries its scheme, so a deployment may use https://.
set(LAUNCHER_DEMO_ORIGIN "http://127.0.0.1:8642" CACHE STRING "Origin of the local demo server")
set(LAUNCHER_VERSION_HOST   "${LAUNCHER_DEMO_ORIGIN}" CACHE STRING "Version host (version list, replacement launcher)")
set(LAUNCHER_DOWNLOAD_HOST  "${LAUNCHER_DEMO_ORIGIN}" CACHE STRING "Download host (patch packages)")
set(LAUNCHER_NEWS_HOST      "${LAUNCHER_DEMO_ORIGIN}" CACHE STRING "News host (news page of the window)")
set(LAUNCHER_ACCOUNT_HOST   "${LAUNCHER_DEMO_ORIGIN}" CACHE STRING "Account site (login page)")
set(LAUNCHER_GAME_SITE_HOST "${LAUNCHER_DEMO_ORIGIN}" CACHE STRING "Game site (home page, service list)")
set(LAUNCHER_PAYMENT_HOST   "${LAUNCHER_DEMO_ORIGIN}" CACHE STRING "Payment site")
set(LAUNCHER_COMMUNITY_HOST "${LAUNCHER_DEMO_ORIGIN}" CACHE STRING "Community site (forum)")
# The launcher's own FileVersion; a new launcher build must change it.
set(LAUNCHER_FILE_VERSION "1.1.6.0" CACHE STRING "FileVersion of the launcher's version block")
# Certificates trusted for https beside the system's store, for hosts whose
# certificates a private CA signed: a PEM file, read now and built into the
# launcher (the players' machines need no file). LAUNCHER_CA_BUNDLE=FILE in a
# launcher's environment adds the certificates of FILE when it runs (tests).
set(LAUNCHER_CA_BUNDLE "" CACHE FILEPATH "PEM file of CA certificates the launcher trusts beside the system's")
set(LAUNCHER_CA_PEM "")
if(LAUNCHER_CA_BUNDLE)
  if(WIN32)
    message(FATAL_ERROR "LAUNCHER_CA_BUNDLE is not supported by the Windows HTTP client yet; "
                        "install the CA into the Windows certificate store")
  endif()
  file(READ "${LAUNCHER_CA_BUNDLE}" LAUNCHER_CA_PEM)
  if(NOT LAUNCHER_CA_PEM MATCHES "-----BEGIN CERTIFICATE-----")
    message(FATAL_ERROR "LAUNCHER_CA_BUNDLE: ${LAUNCHER_CA_BUNDLE} holds no PEM certificate")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${LAUNCHER_CA_BUNDLE}")
endif()
