# Windows check: GoogleTest built from the sources Debian ships with
# libgtest-dev, by the cross compiler, for the Windows test program.
if(NOT TARGET GTest::gtest)
  if(NOT EXISTS /usr/src/googletest/CMakeLists.txt)
    message(FATAL_ERROR "The Windows check needs /usr/src/googletest (libgtest-dev)")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()
set(GTest_FOUND TRUE)
