# The Debian packages, made by CPack's DEB generator from the install components of
# cmake/ZelInstall.cmake (`cpack -G DEB --config BUILD/CPackConfig.cmake`, or
# scripts/run-packaging.sh). CPack packs what the build already made: the install rules are the
# one list of what goes where, and no second build (as a debian/ folder's would be) runs.
#
#   libzeladminsal<SOVERSION>  lib      the shared libraries
#   libzeladminsal-dev         dev      headers, link names, CMake package, pkg-config file
#   zelfarmd                   server   the farm server; its postinst makes the system user,
#                                       /var/lib/zelfarmd, the keys and /etc/zelfarmd/zelfarmd.conf
#   zeladmin                   console  zeladmin, zeltrace, the demo farm
if(WIN32 OR ZEL_PORTABLE_CORE_ONLY OR NOT TARGET zelfarmd OR NOT TARGET zeladmin)
  return()
endif()

set(ZEL_DEB_LIB "libzeladminsal${ZEL_SOVERSION}")
set(ZEL_DEB_PACKAGES lib ${ZEL_DEB_LIB} dev libzeladminsal-dev server zelfarmd console zeladmin)
set(ZEL_DEB_SOURCE ${PROJECT_SOURCE_DIR}/share/debian)

# Every package carries the copyright notice and a changelog (gzip -9n: the same bytes each
# time) in its own documentation folder.
set(changelog ${CMAKE_BINARY_DIR}/debian/changelog.gz)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/debian)
execute_process(COMMAND gzip -9nc ${ZEL_DEB_SOURCE}/changelog OUTPUT_FILE ${changelog}
                RESULT_VARIABLE gzipped)
if(NOT gzipped EQUAL 0)
  message(FATAL_ERROR "gzip of ${ZEL_DEB_SOURCE}/changelog failed")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ZEL_DEB_SOURCE}/changelog)
set(packages ${ZEL_DEB_PACKAGES})
while(packages)
  list(POP_FRONT packages component package)
  string(TOUPPER ${component} upper)
  set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${package})
  install(FILES ${ZEL_DEB_SOURCE}/copyright ${changelog}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component}
          EXCLUDE_FROM_ALL)
endwhile()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zeladminsal)
set(CPACK_PACKAGE_VENDOR "ZelAdminSal developers")
set(CPACK_PACKAGE_CONTACT "ZelAdminSal developers <maintainers@zeladminsal.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL lib dev server console)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Dependencies on Debian's libraries from the binaries (dpkg-shlibdeps); on each other from the
# component dependencies, at this exact version.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_COMPONENT_DEV_DEPENDS lib)
set(CPACK_COMPONENT_SERVER_DEPENDS lib)
set(CPACK_COMPONENT_CONSOLE_DEPENDS lib)

set(CPACK_DEBIAN_LIB_PACKAGE_SECTION libs)
# The shlibs file (only the library package has shared objects) and the ldconfig trigger, which
# this CPack does not write itself.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_LIB_PACKAGE_CONTROL_EXTRA ${ZEL_DEB_SOURCE}/libzeladminsal/triggers)
set(CPACK_COMPONENT_LIB_DESCRIPTION "AdminTool access layer of a server farm (libraries)
ZelAdminSal is the library a console or a farm subsystem uses to manage
a farm's administrators and privileges, its console tree, icons and
directory entries, with the platform components it stands on: the host
runtime, the protocol component, the user SAL pieces, the directory and
the trace device.")

set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
# ZelAdminSal::transport is found only with OpenSSL's development files.
set(CPACK_DEBIAN_DEV_PACKAGE_SUGGESTS "libssl-dev")
set(CPACK_COMPONENT_DEV_DESCRIPTION "AdminTool access layer of a server farm (development files)
Public headers of ZelAdminSal and its platform components, the link names,
the CMake package (find_package(ZelAdminSal 0.2 CONFIG), targets
ZelAdminSal::ZelAdminSal, ZelAdminSal::runtime and so on, and for consoles
that reach a farm server the static ZelAdminSal::transport) and the
pkg-config file zeladminsal.")

set(CPACK_DEBIAN_SERVER_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
    ${ZEL_DEB_SOURCE}/zelfarmd/postinst ${ZEL_DEB_SOURCE}/zelfarmd/prerm
    ${ZEL_DEB_SOURCE}/zelfarmd/postrm)
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_COMPONENT_SERVER_DESCRIPTION "farm server: AdminTool subsystem and notification hub
zelfarmd keeps a farm's administrators, privileges, console tree, icons and
audit in its store and serves consoles over a Unix socket and TLS. It runs
as the system user zelfarmd under systemd (socket activation, readiness,
watchdog, reload).")

set(CPACK_DEBIAN_CONSOLE_PACKAGE_SECTION admin)
set(CPACK_COMPONENT_CONSOLE_DESCRIPTION "farm administrator's console
zeladmin administers a farm through its server: administrators, privileges,
passwords, logons, the console tree, icons, the audit, export and import of a
farm document. zeltrace switches the library's tracing on and off and prints
trace files.")

include(CPack)
