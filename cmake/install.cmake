# Install rules: the daemon with its companion, the operator's tools and the simulated board,
# the two exported libraries with their headers and pkg-config files, and our platform library
# for PCs, which they need at run time (on a television the vendor's takes its place).
include(GNUInstallDirs)

# Installed programs find the libraries beside them in ../lib unless a packager says otherwise.
if(NOT DEFINED CMAKE_INSTALL_RPATH)
  set_target_properties(veldd se_veldd veldctl PROPERTIES
    INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
endif()

# veldd starts se_veldd from its own directory, so both go to one place.
install(TARGETS veldd se_veldd veldctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET veld_board)
  install(TARGETS veld_board RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(TARGETS veldcore LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${CMAKE_SOURCE_DIR}/daemon/platform/include/veldcore.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/veld)

# veld_install_library(<target> <pkg-config name> <description> <public header folder>): the
# shared library, its headers under include/<name>/ and <name>.pc, from which users take
#   cc app.c $(pkg-config --cflags --libs <name>)
function(veld_install_library target name description headers)
  install(TARGETS ${target} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
  # It finds our platform library beside it.
  if(NOT DEFINED CMAKE_INSTALL_RPATH)
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN")
  endif()
  file(GLOB public CONFIGURE_DEPENDS ${headers}/*.h)
  install(FILES ${public} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${name})
  get_target_property(output ${target} OUTPUT_NAME)
  if(NOT output)
    set(output ${target})
  endif()
  set(VELD_PC_NAME ${name})
  set(VELD_PC_DESCRIPTION ${description})
  set(VELD_PC_LIB ${output})
  # The file names its prefix relative to where it lies, so that any install prefix works.
  file(RELATIVE_PATH VELD_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
  string(REGEX REPLACE "/$" "" VELD_PC_TO_PREFIX "${VELD_PC_TO_PREFIX}")
  configure_file(${CMAKE_SOURCE_DIR}/cmake/library.pc.in ${CMAKE_BINARY_DIR}/pkgconfig/${name}.pc @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/pkgconfig/${name}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endfunction()

veld_install_library(vse vse "veldd secure-engine client library: trusted command channel, secure store, RPMB, software crypto, permanent log" ${CMAKE_SOURCE_DIR}/se/include)
if(TARGET GAL)
  veld_install_library(GAL GAL "veldd user-space 2D GPU driver" ${CMAKE_SOURCE_DIR}/gal/include)
endif()
