# Debian packages made by CPack from the build tree (scripts/package.sh runs it):
#   pellmere                    the agent, its plugins, pellmerectl and the agent's session
#                               entries (D-Bus activation, autostart, "Sync Drive" entry)
#   corvane-pellmere            the manager with its desktop entry, icons and metainfo
#   libcorvane-autoupdate1      the update library
#   libcorvane-autoupdate-dev   its header, link and pkg-config file
# Dependencies on other packages come from the binaries (dpkg-shlibdeps); ours are named.

# Every package carries its copyright file and compressed changelog in its own doc folder.
set(PELLMERE_DEB_PACKAGES pellmere corvane-pellmere libcorvane-autoupdate1 libcorvane-autoupdate-dev)
configure_file(${PROJECT_SOURCE_DIR}/data/debian/changelog.in ${PROJECT_BINARY_DIR}/debian/changelog @ONLY)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/debian/changelog.gz
  COMMAND Python3::Interpreter -c
          "import gzip,sys; d=open(sys.argv[1],'rb').read(); f=open(sys.argv[2],'wb'); g=gzip.GzipFile('', 'wb', 9, f, 0); g.write(d); g.close(); f.close()"
          ${PROJECT_BINARY_DIR}/debian/changelog ${PROJECT_BINARY_DIR}/debian/changelog.gz
  DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog
  COMMENT "Debian changelog"
  VERBATIM)
add_custom_target(pellmere-debian-changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog.gz)

set(component_of_pellmere pellmere)
set(component_of_corvane-pellmere corvane-pellmere)
set(component_of_libcorvane-autoupdate1 libcorvane-autoupdate1)
set(component_of_libcorvane-autoupdate-dev libcorvane-autoupdate-dev)
foreach(package IN LISTS PELLMERE_DEB_PACKAGES)
  install(FILES ${PROJECT_SOURCE_DIR}/data/debian/copyright ${PROJECT_BINARY_DIR}/debian/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component_of_${package}})
  set(overrides ${PROJECT_SOURCE_DIR}/data/debian/${package}.lintian-overrides)
  if(EXISTS ${overrides})
    # For the packages only, not the release archive.
    install(FILES ${overrides} DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME ${package}
      COMPONENT ${package}-lintian)
    list(APPEND PELLMERE_LINTIAN_COMPONENTS ${package}-lintian)
  endif()
endforeach()

set(CPACK_PACKAGE_NAME pellmere)
set(CPACK_PACKAGE_VENDOR "Corvane")
set(CPACK_PACKAGE_CONTACT "Corvane <pellmere@corvane.com>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# Each package's description starts with its own summary line; CPack would put one common
# summary above them all unless it is left at CPack's default.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# /etc/xdg/autostart is absolute on purpose (see data/CMakeLists.txt).
set(CPACK_WARN_ON_ABSOLUTE_INSTALL_DESTINATION OFF)
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL pellmere pellmere-session corvane-pellmere libcorvane-autoupdate1 libcorvane-autoupdate-dev
  ${PELLMERE_LINTIAN_COMPONENTS})
set(CPACK_COMPONENTS_GROUPING ONE_PER_GROUP)
foreach(component IN LISTS CPACK_COMPONENTS_ALL)
  string(TOUPPER ${component} upper)
  string(REGEX REPLACE "-(session|lintian)$" "" group ${component})
  set(CPACK_COMPONENT_${upper}_GROUP ${group})
endforeach()

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The manager links the update library of the build tree; its package is named below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/src/autoupdate)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.corvane.com/en/pellmere")
set(version_pin "(= ${PROJECT_VERSION})")

set(CPACK_DEBIAN_PELLMERE_PACKAGE_NAME pellmere)
# Libraries the agent opens only when it needs them (FFmpeg for the device filter, libsmbclient
# for listing a network device's shares): dpkg-shlibdeps cannot see them, so the packages that
# hold these sonames on the build machine are named here.
string(REGEX MATCH "^[0-9]+" avformat_major "${LIBAV_libavformat_VERSION}")
string(REGEX MATCH "^[0-9]+" avutil_major "${LIBAV_libavutil_VERSION}")
set(opened_packages)
foreach(soname libavformat.so.${avformat_major} libavutil.so.${avutil_major} libsmbclient.so.0)
  execute_process(COMMAND dpkg-query -S "*/${soname}" OUTPUT_VARIABLE owner ERROR_QUIET RESULT_VARIABLE failed)
  string(REGEX MATCH "^[^:,]+" owner "${owner}")
  if(failed OR NOT owner)
    message(WARNING "packaging: no installed package holds ${soname}; the pellmere package will not depend on it")
  else()
    list(APPEND opened_packages ${owner})
  endif()
endforeach()
list(JOIN opened_packages ", " opened_depends)
set(CPACK_DEBIAN_PELLMERE_PACKAGE_DEPENDS "${opened_depends}")
# A desktop session always has its bus; a bare system may not need one for `pellmere sync`.
# Network storage: Avahi finds the devices, GVfs (through gio) mounts their shares.
set(CPACK_DEBIAN_PELLMERE_PACKAGE_RECOMMENDS
  "default-dbus-session-bus | dbus-session-bus, avahi-daemon, gvfs-backends, gvfs-fuse, libglib2.0-bin")
set(CPACK_DEBIAN_PELLMERE_DESCRIPTION "One-way sync of folders and media onto drives
Pellmere keeps chosen folders and media categories (music, pictures, movies,
documents) copied one way onto an external drive or a network share. This
package holds the agent, which syncs drives as they are connected and is
started by the session bus and at login, the one-shot pellmere sync command
and pellmerectl, the command-line client of the agent.")
# The autostart entry lives in /etc: a configuration file the administrator may change.
file(WRITE ${PROJECT_BINARY_DIR}/debian/pellmere/conffiles "/etc/xdg/autostart/com.corvane.pellmere.desktop\n")
set(CPACK_DEBIAN_PELLMERE_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian/pellmere/conffiles)

set(CPACK_DEBIAN_CORVANE-PELLMERE_PACKAGE_NAME corvane-pellmere)
set(CPACK_DEBIAN_CORVANE-PELLMERE_PACKAGE_DEPENDS "pellmere ${version_pin}, libcorvane-autoupdate1 ${version_pin}")
set(CPACK_DEBIAN_CORVANE-PELLMERE_PACKAGE_SECTION x11)
set(CPACK_DEBIAN_CORVANE-PELLMERE_DESCRIPTION "Pellmere manager: choose what is synced onto your drives
The window of Pellmere: pick a drive, choose the folders and media categories
it keeps, press Sync Now and watch the copy. It also checks for updates of
Pellmere.")

set(CPACK_DEBIAN_LIBCORVANE-AUTOUPDATE1_PACKAGE_NAME libcorvane-autoupdate1)
set(CPACK_DEBIAN_LIBCORVANE-AUTOUPDATE1_PACKAGE_SECTION libs)
# A shlibs file for every package with a versioned library (only this one has any), and the
# ldconfig trigger such a package needs.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
file(WRITE ${PROJECT_BINARY_DIR}/debian/libcorvane-autoupdate1/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_LIBCORVANE-AUTOUPDATE1_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian/libcorvane-autoupdate1/triggers)
set(CPACK_DEBIAN_LIBCORVANE-AUTOUPDATE1_DESCRIPTION "Corvane software update library
Asks an update service whether a newer version of an application exists,
downloads its release archive, unpacks it safely and starts the new copy to
install itself. A plain C interface.")

set(CPACK_DEBIAN_LIBCORVANE-AUTOUPDATE-DEV_PACKAGE_NAME libcorvane-autoupdate-dev)
set(CPACK_DEBIAN_LIBCORVANE-AUTOUPDATE-DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_LIBCORVANE-AUTOUPDATE-DEV_PACKAGE_DEPENDS "libcorvane-autoupdate1 ${version_pin}")
set(CPACK_DEBIAN_LIBCORVANE-AUTOUPDATE-DEV_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_LIBCORVANE-AUTOUPDATE-DEV_DESCRIPTION "Corvane software update library: development files
The header, the link library and the pkg-config file of the Corvane software
update library, a plain C interface that checks for, downloads and installs
updates of an application.")

include(CPack)
