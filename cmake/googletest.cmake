# GoogleTest comes as sources from Debian's googletest package and is built with the
# cross compiler, so the tests are Windows executables like the program itself.
set(PELLUMO_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
if(NOT EXISTS ${PELLUMO_GTEST_SOURCE_DIR}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest sources not found in ${PELLUMO_GTEST_SOURCE_DIR}; run scripts/setup.sh")
endif()
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
add_subdirectory(${PELLUMO_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# One test executable per unit; ctest runs each under Wine through the emulator.
function(pellumo_add_test name)
    add_executable(${name} ${ARGN})
    target_link_libraries(${name} PRIVATE gtest_main pellumo_flags)
    target_link_options(${name} PRIVATE -static)
    add_test(NAME ${name} COMMAND ${name})
endfunction()
