# What `cmake --install` puts where (FHS places through GNUInstallDirs, every destination
# relative to the prefix, so a tree installed under any prefix works), and the package
# configuration consumers find it by: CMake's (`find_package(ZelAdminSal 0.2 CONFIG)`, targets
# ZelAdminSal::*) and pkg-config's (`zeladminsal`).
#
# Install components (each becomes one Debian package, cmake/ZelPackaging.cmake):
#   lib      the shared libraries                         libzeladminsal<SOVERSION>
#   dev      headers, link names, CMake and pkg-config,    libzeladminsal-dev
#            the transport's static archives
#   server   zelfarmd, its units, example configuration,  zelfarmd
#            the LDAP schema
#   console  zeladmin, zeltrace, man page, completion,    zeladmin
#            the demo farm
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# Installing (and so CPack) takes what the build made and builds nothing itself: the tests and
# benchmarks a build may leave out are not installed anyway.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

# 0.x: every minor release may change the ABI, so the minor number is part of the SONAME
# (libZelAdminSal.so.0.2) and of what find_package accepts (SameMinorVersion). From 1.0 on the
# major number alone.
if(PROJECT_VERSION_MAJOR EQUAL 0)
  set(ZEL_SOVERSION "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}")
  set(ZEL_VERSION_COMPATIBILITY SameMinorVersion)
else()
  set(ZEL_SOVERSION "${PROJECT_VERSION_MAJOR}")
  set(ZEL_VERSION_COMPATIBILITY SameMajorVersion)
endif()

set(ZEL_CMAKE_PACKAGE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/ZelAdminSal")

# zel_install_man(page section component): a manual page of share/man, compressed (gzip -9n,
# the same bytes every time) as Debian wants them and man reads them anywhere.
function(zel_install_man page section component)
  set(packed ${CMAKE_BINARY_DIR}/man/${page}.gz)
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/man)
  execute_process(COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/share/man/${page} OUTPUT_FILE ${packed}
                  RESULT_VARIABLE gzipped)
  if(NOT gzipped EQUAL 0)
    message(FATAL_ERROR "gzip of share/man/${page} failed")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
                                         ${PROJECT_SOURCE_DIR}/share/man/${page})
  install(FILES ${packed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ${component})
endfunction()

# zel_install_library(target EXPORT_NAME name [HEADERS dir] [EXPORT set]): installs one library
# of the package under ZelAdminSal::<name>, with the headers of dir/include, into the export set
# (ZelAdminSalTargets unless named). Its include folders are the source tree's while building
# and the prefix's include/ once installed.
function(zel_install_library target)
  cmake_parse_arguments(ARG "" "EXPORT_NAME;HEADERS;EXPORT" "" ${ARGN})
  if(NOT ARG_EXPORT)
    set(ARG_EXPORT ZelAdminSalTargets)
  endif()
  get_target_property(includes ${target} INTERFACE_INCLUDE_DIRECTORIES)
  set(wrapped "")
  foreach(folder IN LISTS includes)
    if(folder MATCHES "^\\$<")
      list(APPEND wrapped "${folder}")
    else()
      list(APPEND wrapped "$<BUILD_INTERFACE:${folder}>")
    endif()
  endforeach()
  list(APPEND wrapped "$<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>")
  set_property(TARGET ${target} PROPERTY INTERFACE_INCLUDE_DIRECTORIES "${wrapped}")
  set_property(TARGET ${target} PROPERTY EXPORT_NAME ${ARG_EXPORT_NAME})
  # The public headers are C++20; a consumer's target gets the standard with the link.
  target_compile_features(${target} INTERFACE cxx_std_20)

  get_target_property(kind ${target} TYPE)
  if(kind STREQUAL "SHARED_LIBRARY" AND NOT WIN32)
    set_target_properties(${target} PROPERTIES VERSION ${PROJECT_VERSION}
                                               SOVERSION ${ZEL_SOVERSION})
  endif()
  install(TARGETS ${target} EXPORT ${ARG_EXPORT}
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT lib NAMELINK_COMPONENT dev
          ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
          RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT lib)
  # Only the component's include/ folder: inner headers live beside the sources and never
  # leave the tree.
  if(ARG_HEADERS)
    install(DIRECTORY ${ARG_HEADERS}/include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
            COMPONENT dev FILES_MATCHING PATTERN "*.h")
  endif()
endfunction()

# The library and the platform components it stands on: shared, as the library is, because its
# public headers hand their types (strings, events, the farm, directory entries) across the
# library's boundary; one copy of each per process keeps the process-wide plug-in table and the
# allocation seam single.
# Builds from SQLite's amalgamation (cross builds) make SQLite a shared library of their own,
# which the directory needs at run time: it goes with the libraries, its header stays behind.
if(TARGET zel_sqlite3)
  get_target_property(includes zel_sqlite3 INTERFACE_INCLUDE_DIRECTORIES)
  set_target_properties(zel_sqlite3 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES
                                               "$<BUILD_INTERFACE:${includes}>"
                                               INTERFACE_SYSTEM_INCLUDE_DIRECTORIES
                                               "$<BUILD_INTERFACE:${includes}>"
                                               EXPORT_NAME sqlite3)
  install(TARGETS zel_sqlite3 EXPORT ZelAdminSalTargets
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT lib NAMELINK_SKIP
          ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
          RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT lib)
endif()

zel_install_library(zel_runtime EXPORT_NAME runtime HEADERS ${PROJECT_SOURCE_DIR}/sdk/runtime)
zel_install_library(zel_protocol EXPORT_NAME protocol HEADERS ${PROJECT_SOURCE_DIR}/sdk/protocol)
zel_install_library(zel_usersal EXPORT_NAME usersal HEADERS ${PROJECT_SOURCE_DIR}/sdk/usersal)
zel_install_library(zel_directory EXPORT_NAME directory
                    HEADERS ${PROJECT_SOURCE_DIR}/sdk/directory)
zel_install_library(zel_tracedev EXPORT_NAME tracedev HEADERS ${PROJECT_SOURCE_DIR}/sdk/tracedev)
zel_install_library(ZelAdminSal EXPORT_NAME ZelAdminSal
                    HEADERS ${PROJECT_SOURCE_DIR}/sdk/sals/core/admintool)

# The library's objects carry debug information in every build type, so that its ABI (types and
# all) can be read from the built file (scripts/check-abi.sh); the packages are stripped.
if(NOT WIN32 AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  target_compile_options(zel_adminsal_objects PRIVATE -g)
endif()

install(EXPORT ZelAdminSalTargets NAMESPACE ZelAdminSal:: DESTINATION ${ZEL_CMAKE_PACKAGE_DIR}
        COMPONENT dev)

# The transport, for consoles that reach a farm server (Linux): static archives, since they are
# the console side of a protocol whose two ends are released together and carry no ABI promise.
# A set of its own, so that a consumer of the library alone needs neither OpenSSL nor Threads.
# Boost.Asio is headers only and private to the archive: nothing of it is linked, so the
# installed targets do not name it.
if(TARGET zel_transport)
  foreach(archive zel_transport zel_transport_frames)
    get_target_property(links ${archive} INTERFACE_LINK_LIBRARIES)
    list(FILTER links EXCLUDE REGEX "Boost::")
    set_property(TARGET ${archive} PROPERTY INTERFACE_LINK_LIBRARIES "${links}")
  endforeach()
  zel_install_library(zel_transport_frames EXPORT_NAME transport_frames
                      EXPORT ZelAdminSalTransportTargets)
  zel_install_library(zel_transport EXPORT_NAME transport
                      HEADERS ${PROJECT_SOURCE_DIR}/sdk/transport
                      EXPORT ZelAdminSalTransportTargets)
  install(EXPORT ZelAdminSalTransportTargets NAMESPACE ZelAdminSal::
          DESTINATION ${ZEL_CMAKE_PACKAGE_DIR} COMPONENT dev)
endif()
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/ZelAdminSalConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/ZelAdminSalConfig.cmake
                              INSTALL_DESTINATION ${ZEL_CMAKE_PACKAGE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/ZelAdminSalConfigVersion.cmake
                                 COMPATIBILITY ${ZEL_VERSION_COMPATIBILITY})
install(FILES ${CMAKE_BINARY_DIR}/ZelAdminSalConfig.cmake
              ${CMAKE_BINARY_DIR}/ZelAdminSalConfigVersion.cmake
        DESTINATION ${ZEL_CMAKE_PACKAGE_DIR} COMPONENT dev)

if(NOT WIN32)
  # The file finds the prefix from its own place, so the installed tree can move.
  file(RELATIVE_PATH ZEL_PC_TO_PREFIX "/p/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/p")
  configure_file(${CMAKE_CURRENT_LIST_DIR}/zeladminsal.pc.in ${CMAKE_BINARY_DIR}/zeladminsal.pc
                 @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/zeladminsal.pc
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
endif()

# The tools, each where it is built (the web console once its target exists).
install(TARGETS zeltrace RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT console)
if(NOT WIN32)
  zel_install_man(zeltrace.1 1 console)
endif()
if(TARGET zeladmin)
  install(TARGETS zeladmin RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT console)
  zel_install_man(zeladmin.1 1 console)
  install(FILES ${PROJECT_SOURCE_DIR}/share/bash-completion/zeladmin
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT console)
  install(FILES ${PROJECT_SOURCE_DIR}/share/demo-farm.json
          DESTINATION ${CMAKE_INSTALL_DATADIR}/zeladminsal COMPONENT console)
endif()
if(TARGET zelweb)
  install(TARGETS zelweb RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT console)
endif()
if(TARGET zelfarmd)
  install(TARGETS zelfarmd RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT server)
  zel_install_man(zelfarmd.8 8 server)
  # Units live under lib/ whatever the library folder (multiarch or not).
  install(FILES ${PROJECT_SOURCE_DIR}/share/systemd/zelfarmd.service
                ${PROJECT_SOURCE_DIR}/share/systemd/zelfarmd.socket
          DESTINATION lib/systemd/system COMPONENT server)
  # The example configuration is documentation: the package's postinst copies it to
  # /etc/zelfarmd/ when none is there, so that the operator's file is never overwritten.
  install(FILES ${PROJECT_SOURCE_DIR}/share/zelfarmd/zelfarmd.conf
          DESTINATION ${CMAKE_INSTALL_DATADIR}/zelfarmd COMPONENT server)
  install(FILES ${PROJECT_SOURCE_DIR}/share/ldap/zeladminsal.schema
                ${PROJECT_SOURCE_DIR}/share/ldap/zeladminsal.ldif
          DESTINATION ${CMAKE_INSTALL_DATADIR}/zeladminsal/ldap COMPONENT server)
endif()
