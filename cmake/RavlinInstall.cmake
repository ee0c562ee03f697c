# RavlinInstall.cmake: the shared and the static library, both made of the
# objects of the ravlin archive, and what installs them for other programs'
# builds: ravlin.h, a pkg-config file and a CMake package (Ravlin::ravlin for
# the shared library, Ravlin::ravlin_static for the static one).
#
# Versions: "2.06b" is 2.6.2 (the letter is the patch level); the soname
# carries the major version alone (libravlin.so.2), and only a release that
# breaks the interface raises it.
include(CMakePackageConfigHelpers)

set(RAVLIN_LIBRARY_OUTPUT ${CMAKE_BINARY_DIR}/lib)
set(RAVLIN_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Ravlin)

# Every system library ravlin links must be one the packages can name.
get_target_property(RAVLIN_LINKED ravlin LINK_LIBRARIES)
set(RAVLIN_SYSTEM_TARGETS "")
set(RAVLIN_PKG_MODULES "")
foreach(dependency ${RAVLIN_PKG_DEPENDENCIES})
  string(REPLACE "=" ";" pair "${dependency}")
  list(GET pair 0 prefix)
  list(GET pair 1 module)
  list(APPEND RAVLIN_SYSTEM_TARGETS PkgConfig::${prefix})
  string(REPLACE "," ";" modules "${module}")
  list(APPEND RAVLIN_PKG_MODULES ${modules})
endforeach()
foreach(linked ${RAVLIN_LINKED})
  if(linked MATCHES "^PkgConfig::" AND NOT linked IN_LIST RAVLIN_SYSTEM_TARGETS)
    message(FATAL_ERROR "ravlin links ${linked}: find it with ravlin_find_dependency() so that the installed packages name it")
  endif()
endforeach()

# ---- Shared: libravlin.so.2 -----------------------------------------------------
# It exports the operations of ravlin.h and nothing else: hidden visibility
# keeps the library's own functions in, and a version script the rest (the
# standard library's templates the code instantiates are visible by default).
file(READ ${CMAKE_SOURCE_DIR}/include/ravlin.h RAVLIN_HEADER_TEXT)
string(REGEX MATCHALL "\nRAVLIN_API[^;(]*[ *]([A-Za-z_][A-Za-z0-9_]*)\\(" RAVLIN_DECLARATIONS "${RAVLIN_HEADER_TEXT}")
set(RAVLIN_EXPORTS "")
foreach(declaration ${RAVLIN_DECLARATIONS})
  string(REGEX REPLACE ".*[ *]([A-Za-z_][A-Za-z0-9_]*)\\($" "\\1" name "${declaration}")
  string(APPEND RAVLIN_EXPORTS "    ${name};\n")
endforeach()
set(RAVLIN_VERSION_SCRIPT ${CMAKE_BINARY_DIR}/ravlin.map)
file(CONFIGURE OUTPUT ${RAVLIN_VERSION_SCRIPT} CONTENT "{\n  global:\n${RAVLIN_EXPORTS}  local: *;\n};\n")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/include/ravlin.h)

add_library(ravlin_shared SHARED $<TARGET_OBJECTS:ravlin>)
add_library(Ravlin::ravlin ALIAS ravlin_shared)
set_target_properties(ravlin_shared PROPERTIES
  OUTPUT_NAME ravlin EXPORT_NAME ravlin LINKER_LANGUAGE CXX
  VERSION ${RAVLIN_VERSION} SOVERSION ${RAVLIN_VERSION_MAJOR}
  LIBRARY_OUTPUT_DIRECTORY ${RAVLIN_LIBRARY_OUTPUT})
target_include_directories(ravlin_shared INTERFACE
  $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/include> $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
target_link_libraries(ravlin_shared PRIVATE ${RAVLIN_SYSTEM_TARGETS} Threads::Threads)
# Every symbol it uses must be found when it is linked, not when a program is.
target_link_options(ravlin_shared PRIVATE LINKER:--no-undefined LINKER:--version-script=${RAVLIN_VERSION_SCRIPT})
set_property(TARGET ravlin_shared APPEND PROPERTY LINK_DEPENDS ${RAVLIN_VERSION_SCRIPT})
target_link_options(ravlin_shared PRIVATE ${RAVLIN_SANITIZER_LINK_FLAGS})

# ---- Static: libravlin.a ------------------------------------------------------------
add_library(ravlin_static STATIC $<TARGET_OBJECTS:ravlin>)
add_library(Ravlin::ravlin_static ALIAS ravlin_static)
set_target_properties(ravlin_static PROPERTIES
  OUTPUT_NAME ravlin EXPORT_NAME ravlin_static LINKER_LANGUAGE CXX
  ARCHIVE_OUTPUT_DIRECTORY ${RAVLIN_LIBRARY_OUTPUT})
target_include_directories(ravlin_static INTERFACE
  $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/include> $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
# A program linking the archive links the system libraries itself (their
# link flags only: their headers and compile flags are not the program's
# business); the installed package finds them under names of its own
# (RavlinConfig.cmake).
foreach(dependency ${RAVLIN_PKG_DEPENDENCIES})
  string(REGEX REPLACE "=.*" "" prefix "${dependency}")
  target_link_libraries(ravlin_static INTERFACE
    $<BUILD_INTERFACE:$<LINK_ONLY:PkgConfig::${prefix}>> $<INSTALL_INTERFACE:$<LINK_ONLY:PkgConfig::Ravlin_${prefix}>>)
endforeach()
# The library is C++ and a C program's link does not bring the C++ runtime.
target_link_libraries(ravlin_static INTERFACE $<LINK_ONLY:Threads::Threads> stdc++ m)

# ---- Installed files --------------------------------------------------------------------
install(TARGETS ravlin_shared EXPORT RavlinSharedTargets LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS ravlin_static EXPORT RavlinStaticTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${CMAKE_SOURCE_DIR}/include/ravlin.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/ravlin)
install(EXPORT RavlinSharedTargets NAMESPACE Ravlin:: DESTINATION ${RAVLIN_CMAKE_DIR})
install(EXPORT RavlinStaticTargets NAMESPACE Ravlin:: DESTINATION ${RAVLIN_CMAKE_DIR})

# A program linking the archive needs the system libraries it uses, as shared
# libraries: their link flags go into Libs.private as pkg-config gave them
# here. (Requires.private would ask for their static link closures, which
# Debian's packages do not hold: FFmpeg's alone names dozens of libraries that
# no installed package brings.) The loader's own folders are left out.
set(RAVLIN_PC_LIBS_PRIVATE "")
foreach(dependency ${RAVLIN_PKG_DEPENDENCIES})
  string(REGEX REPLACE "=.*" "" prefix "${dependency}")
  foreach(flag ${${prefix}_LDFLAGS})
    string(REGEX REPLACE "^-L" "" folder "${flag}")
    if(NOT flag STREQUAL folder AND folder IN_LIST CMAKE_C_IMPLICIT_LINK_DIRECTORIES)
      continue()
    endif()
    list(APPEND RAVLIN_PC_LIBS_PRIVATE "${flag}")
  endforeach()
endforeach()
list(REMOVE_DUPLICATES RAVLIN_PC_LIBS_PRIVATE)
list(JOIN RAVLIN_PC_LIBS_PRIVATE " " RAVLIN_PC_LIBS_PRIVATE)
list(JOIN RAVLIN_PKG_DEPENDENCIES ";" RAVLIN_CONFIG_DEPENDENCIES)
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/RavlinConfig.cmake.in
  ${CMAKE_BINARY_DIR}/RavlinConfig.cmake INSTALL_DESTINATION ${RAVLIN_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/RavlinConfigVersion.cmake
  VERSION ${RAVLIN_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/RavlinConfig.cmake ${CMAKE_BINARY_DIR}/RavlinConfigVersion.cmake
  DESTINATION ${RAVLIN_CMAKE_DIR})

# The .pc file finds its prefix from where it lies, so an install with
# --prefix (or a moved tree) stays right.
file(RELATIVE_PATH RAVLIN_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" RAVLIN_PC_TO_PREFIX "${RAVLIN_PC_TO_PREFIX}")
configure_file(${CMAKE_SOURCE_DIR}/cmake/ravlin.pc.in ${CMAKE_BINARY_DIR}/ravlin.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/ravlin.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# A library put into the system's own folders is found by programs only once
# the loader's cache knows it (a staged install leaves that to the package).
install(CODE [[
  if("$ENV{DESTDIR}" STREQUAL "" AND EXISTS /etc/ld.so.cache)
    find_program(RAVLIN_LDCONFIG ldconfig PATHS /sbin /usr/sbin)
    execute_process(COMMAND id -u OUTPUT_VARIABLE RAVLIN_UID OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(RAVLIN_LDCONFIG AND RAVLIN_UID STREQUAL "0")
      execute_process(COMMAND "${RAVLIN_LDCONFIG}")
    endif()
  endif()
]])
