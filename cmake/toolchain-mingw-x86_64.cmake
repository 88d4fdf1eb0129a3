# 64-bit Windows: the same program as the 32-bit build, for hosts whose Wine (or Windows)
# runs only 64-bit programs.
set(PELLUMO_MINGW_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
