include(${CMAKE_CURRENT_LIST_DIR}/googletest-sources.cmake)
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
add_subdirectory(${PELLUMO_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# One test executable per unit; ctest runs each under Wine through the emulator.
function(pellumo_add_test name)
    add_executable(${name} ${ARGN})
    target_link_libraries(${name} PRIVATE gtest_main pellumo_flags)
    target_link_options(${name} PRIVATE -static)
    add_test(NAME ${name} COMMAND ${name})
endfunction()
