# GoogleTest comes as sources from Debian's googletest package and is built by each build
# with its own compiler: the cross builds' tests are Windows programs like the program itself.
set(PELLUMO_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
if(NOT EXISTS ${PELLUMO_GTEST_SOURCE_DIR}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest sources not found in ${PELLUMO_GTEST_SOURCE_DIR}; run scripts/setup.sh")
endif()
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
