# The sources of the current folder and of the listed subfolders.
function(corvane_glob_sources out)
  set(_patterns)
  foreach(_dir . ${ARGN})
    list(APPEND _patterns ${CMAKE_CURRENT_SOURCE_DIR}/${_dir}/*.cpp
                          ${CMAKE_CURRENT_SOURCE_DIR}/${_dir}/*.h)
  endforeach()
  file(GLOB _sources CONFIGURE_DEPENDS ${_patterns})
  set(${out} ${_sources} PARENT_SCOPE)
endfunction()

# Each folder under src/ is one static library (SUBDIRS adds the sources of
# subfolders that belong to it); its sources are globbed so that adding a
# file needs no edit here.
function(corvane_library name)
  cmake_parse_arguments(ARG "" "" "PUBLIC_DEPS;SUBDIRS" ${ARGN})
  corvane_glob_sources(_sources ${ARG_SUBDIRS})
  add_library(${name} STATIC ${_sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_DEPS})
  target_compile_options(${name} PRIVATE -Wall -Wextra)
endfunction()

# One GoogleTest binary per folder under tests/, with the tests of the listed
# subfolders.
function(corvane_test area)
  cmake_parse_arguments(ARG "" "" "LIBS;SUBDIRS" ${ARGN})
  corvane_glob_sources(_sources ${ARG_SUBDIRS})
  add_executable(test_${area} ${_sources})
  target_link_libraries(test_${area} PRIVATE corvane_testmain ${ARG_LIBS}
                        GTest::gtest GTest::gmock)
  target_compile_definitions(test_${area} PRIVATE
    CORVANE_REAL_WORLD_DIR="${CORVANE_REAL_WORLD_DIR}"
    CORVANE_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  gtest_discover_tests(test_${area} DISCOVERY_TIMEOUT 60 DISCOVERY_MODE PRE_TEST
                       PROPERTIES TIMEOUT 120)
endfunction()
