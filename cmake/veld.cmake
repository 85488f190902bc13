# Shared build helpers.

# Warnings are errors on our own code only; third-party headers come in as SYSTEM.
set(VELD_WARNINGS -Wall -Wextra -Werror -Wno-missing-field-initializers)

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
endfunction()
