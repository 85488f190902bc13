# Shared build helpers.

# Warnings on our own code only; third-party headers come in as SYSTEM. They are errors with
# VELD_WERROR (on in scripts/ and CI), only warnings in a user's or packager's plain build,
# where another compiler version may warn about what ours does not.
set(VELD_WARNINGS -Wall -Wextra -Wno-missing-field-initializers)
if(VELD_WERROR)
  list(APPEND VELD_WARNINGS -Werror)
endif()

# veld_library(<name> <dir>...): a static library of every .cpp/.c in the given folders
# (not recursive), with the folder's include/ public when it exists.
function(veld_library name)
  set(srcs)
  foreach(dir ${ARGN})
    file(GLOB s CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.c)
    list(APPEND srcs ${s})
  endforeach()
  add_library(${name} STATIC ${srcs})
  target_compile_options(${name} PRIVATE ${VELD_WARNINGS})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  foreach(dir ${ARGN})
    if(EXISTS ${dir}/include)
      target_include_directories(${name} PUBLIC ${dir}/include)
    endif()
  endforeach()
endfunction()

# veld_test(<name> LABELS <labels> SOURCES <files> LIBS <libs>)
function(veld_test name)
  cmake_parse_arguments(T "" "" "LABELS;SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_compile_options(${name} PRIVATE ${VELD_WARNINGS})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gmock Threads::Threads)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  gtest_discover_tests(${name} PROPERTIES LABELS "${T_LABELS}" DISCOVERY_TIMEOUT 60)
  # Every unit test program joins the target unit_tests, which the cross builds build and run
  # under emulation: a new subsystem's tests are taken in without naming them anywhere else.
  # Their paths go to <build>/unit_test_programs.txt, for runs of whole programs (scripts/cross).
  if("unit" IN_LIST T_LABELS)
    if(NOT TARGET unit_tests)
      add_custom_target(unit_tests)
      cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL veld_write_unit_test_list)
    endif()
    add_dependencies(unit_tests ${name})
    set_property(GLOBAL APPEND PROPERTY VELD_UNIT_TEST_PROGRAMS "$<TARGET_FILE:${name}>")
  endif()
endfunction()

function(veld_write_unit_test_list)
  get_property(programs GLOBAL PROPERTY VELD_UNIT_TEST_PROGRAMS)
  list(JOIN programs "\n" text)
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/unit_test_programs.txt CONTENT "${text}\n")
endfunction()

# The names every exported interface of ours is known by (linker version-script patterns).
set(VELD_SE_EXPORTS "VELD_SE_*" "SE_*" "_SE_*" "_BER_*")
set(VELD_GAL_EXPORTS "gco*" "gcs*" "gcf*" "gcPLS" "gcOptions" "gcFrameInfos"
    "gcUserDebugOption" "gcGetUserDebugOption")

# veld_export_only(<target> <pattern>...): the image's dynamic symbol table holds only the
# global names that match the patterns, nothing of the C++ inside or of the archives it is
# assembled from. A shared library gets a version script, an executable a dynamic list.
# tests/abi checks the result against the list of names in tests/abi/exported_symbols.txt.
function(veld_export_only target)
  get_target_property(type ${target} TYPE)
  list(JOIN ARGN ";\n    " names)
  set(file ${CMAKE_CURRENT_BINARY_DIR}/${target}.exports)
  if(type STREQUAL "SHARED_LIBRARY")
    string(CONCAT text "{\n  global:\n    " "${names}" ";\n  local: *;\n};\n")
    set(option "LINKER:--version-script=${file}")
  else()
    string(CONCAT text "{\n    " "${names}" ";\n};\n")
    set(option "LINKER:--dynamic-list=${file}")
  endif()
  file(CONFIGURE OUTPUT ${file} CONTENT "${text}" @ONLY)
  target_link_options(${target} PRIVATE ${option})
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${file})
endfunction()
