# The host build: the forecast service, a native Linux program, and its GoogleTest tests;
# the program's pure cores with their fuzz targets.

include(CTest)

add_library(service_flags INTERFACE)
target_compile_options(service_flags INTERFACE -Wall -Wextra -Wshadow -Werror)
target_include_directories(service_flags INTERFACE ${CMAKE_SOURCE_DIR})

# The program's pure cores and their fuzz targets; the 'fuzz' preset builds only these.
include(cmake/host-cores.cmake)
if(PELLUMO_FUZZ)
    return()
endif()

find_package(Python3 REQUIRED COMPONENTS Interpreter)
find_package(Threads REQUIRED)
find_package(nlohmann_json 3 REQUIRED)
# The live source's HTTPS client (Debian's libcurl4-openssl-dev).
find_package(CURL REQUIRED)
# The HTTP server: GNU libmicrohttpd, event-driven, found through pkg-config.
find_package(PkgConfig REQUIRED)
pkg_check_modules(MICROHTTPD REQUIRED IMPORTED_TARGET libmicrohttpd>=0.9.75)

add_subdirectory(service)

if(BUILD_TESTING)
    include(${CMAKE_CURRENT_LIST_DIR}/googletest-sources.cmake)
    add_subdirectory(${PELLUMO_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    add_subdirectory(tests/service)
    # How scripts/wine-run chooses to start 32-bit Wine, from faked probes.
    add_test(NAME wine_run_choice COMMAND bash ${CMAKE_SOURCE_DIR}/tests/tools/wine_run_choice_test.sh
                                          ${CMAKE_SOURCE_DIR}/scripts/wine-run)
endif()
