# The program's pure cores, built natively from the same folder lists as the Windows build:
# each folder's CMakeLists.txt names its libraries' sources once and leaves out, off
# Windows, what needs the platform. Whether a byte leads a double-byte character is code
# page 936's rule here as on Windows (common/lead_byte_gbk.cpp).
#
# With PELLUMO_FUZZ (the 'fuzz' preset, clang) everything here is built for libFuzzer under
# AddressSanitizer and UndefinedBehaviorSanitizer, the latter fatal.

option(PELLUMO_FUZZ "Build the cores and their fuzz targets with libFuzzer and the sanitizers" OFF)
if(PELLUMO_FUZZ)
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
                        -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()

# The folders' libraries ask for the program's strict flags; here they are the service's.
add_library(pellumo_flags ALIAS service_flags)

add_subdirectory(common)
add_subdirectory(net)
add_subdirectory(settings)
add_subdirectory(weather)
add_subdirectory(fuzz)
