# Installation and the Debian package.
#
#   cmake --install BUILD [--prefix DIR]   Tessvane, liblidar.so, LiDAR.h, the
#                                          CMake package "lidar", lidar.pc and
#                                          the manual page
#   cpack --config BUILD/CPackConfig.cmake the .deb (prefix /usr; configure
#                                          with -DCMAKE_INSTALL_PREFIX=/usr to
#                                          get Debian's lib/<triplet> folder)
#
# Only what is named here is installed: the test programs, mklas, the
# benchmarks and the refresh_headers example are not.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(LIDAR_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/lidar)

# The tool. It carries the shared module itself and needs no library.
install(TARGETS Tessvane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The shared module: liblidar.so.VERSION, its SONAME link and the link for
# the linker, and its one header.
install(TARGETS lidar EXPORT lidarTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/lidar/LiDAR.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# find_package(lidar) gives the imported target lidar::lidar.
install(EXPORT lidarTargets NAMESPACE lidar:: FILE lidarTargets.cmake DESTINATION ${LIDAR_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/lidarConfig.cmake.in
  ${PROJECT_BINARY_DIR}/lidarConfig.cmake
  INSTALL_DESTINATION ${LIDAR_CMAKE_DIR}
  NO_SET_AND_CHECK_MACRO)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/lidarConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/lidarConfig.cmake ${PROJECT_BINARY_DIR}/lidarConfigVersion.cmake
  DESTINATION ${LIDAR_CMAKE_DIR})

# pkg-config. The file names absolute folders, so it is written when it is
# installed, for the prefix of that install (cmake --install --prefix, or
# /usr in the package), not for the prefix the build was configured with.
foreach(kind LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${kind}}")
    set(LIDAR_PC_${kind} "${CMAKE_INSTALL_${kind}}")
    set(LIDAR_INSTALL_${kind} "${CMAKE_INSTALL_${kind}}")
  else()
    set(LIDAR_PC_${kind} "\${prefix}/${CMAKE_INSTALL_${kind}}")
    set(LIDAR_INSTALL_${kind} "\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_${kind}}")
  endif()
endforeach()
set(LIDAR_PC_STAGED ${PROJECT_BINARY_DIR}/pkgconfig-staged/lidar.pc)
install(CODE "
  set(prefix \"\${CMAKE_INSTALL_PREFIX}\")
  set(libdir [==[${LIDAR_PC_LIBDIR}]==])
  set(includedir [==[${LIDAR_PC_INCLUDEDIR}]==])
  set(PROJECT_VERSION \"${PROJECT_VERSION}\")
  configure_file(\"${CMAKE_CURRENT_LIST_DIR}/lidar.pc.in\" \"${LIDAR_PC_STAGED}\" @ONLY)
  file(INSTALL DESTINATION \"${LIDAR_INSTALL_LIBDIR}/pkgconfig\" TYPE FILE
    PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
    FILES \"${LIDAR_PC_STAGED}\")
")

# The manual page, gzip-compressed as Debian ships manual pages.
set(TESSVANE_MANPAGE ${PROJECT_SOURCE_DIR}/doc/Tessvane.1)
find_program(TESSVANE_GZIP gzip)
if(TESSVANE_GZIP)
  set(TESSVANE_MANPAGE_GZ ${PROJECT_BINARY_DIR}/man/Tessvane.1.gz)
  add_custom_command(OUTPUT ${TESSVANE_MANPAGE_GZ}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
    COMMAND ${TESSVANE_GZIP} -9 -n -c ${TESSVANE_MANPAGE} > ${TESSVANE_MANPAGE_GZ}
    DEPENDS ${TESSVANE_MANPAGE}
    COMMENT "Compressing the manual page")
  add_custom_target(manpage ALL DEPENDS ${TESSVANE_MANPAGE_GZ})
  install(FILES ${TESSVANE_MANPAGE_GZ} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  install(FILES ${TESSVANE_MANPAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tessvane)
set(CPACK_PACKAGE_VENDOR "Tessvane maintainers")
set(CPACK_PACKAGE_CONTACT "Tessvane maintainers <maintainers@tessvane.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "rotate and translate airborne LiDAR point clouds in LAS files")
# The package installs under /usr, whatever prefix the build was configured
# with. It is staged through DESTDIR so that what is written at install time
# (lidar.pc) sees that prefix.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_NAME tessvane)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The summary above is the first line of the description; this is the rest.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Tessvane turns every point of a LAS 1.0, 1.1 or 1.2 file about a vertical
axis through a given centre, then shifts it along X, Y and Z, and writes the
moved cloud to a new file whose header box follows the points. Attributes,
header and variable-length records (the georeferencing) pass through
untouched; the output appears only when complete.
.
The package also holds liblidar.so, the shared module of the Vintrel LiDAR
Utilities (LAS checks, header statistics refresh, header initialisation,
sorts with a companion index), with its header LiDAR.h, a CMake package
(find_package(lidar), target lidar::lidar) and a pkg-config file (lidar).")
# Dependencies on libc6 and libstdc++6 from the binaries themselves, and a
# shlibs file for liblidar.so.1, and ldconfig run on install and removal.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
