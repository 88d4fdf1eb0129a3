# The program's pure cores, built natively from the same sources as the Windows build. The
# one platform question they ask, whether a byte leads a double-byte character, is
# answered here by code page 936's rule (weather/lead_byte_gbk.cpp) instead of the system's.
#
# With PELLUMO_FUZZ (the 'fuzz' preset, clang) everything here is built for libFuzzer under
# AddressSanitizer and UndefinedBehaviorSanitizer, the latter fatal.

option(PELLUMO_FUZZ "Build the cores and their fuzz targets with libFuzzer and the sanitizers" OFF)
if(PELLUMO_FUZZ)
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
                        -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()

set(pellumo_root ${CMAKE_SOURCE_DIR})

add_library(weather_url STATIC ${pellumo_root}/weather/url_parts.cpp ${pellumo_root}/weather/lead_byte_gbk.cpp)
target_link_libraries(weather_url PUBLIC service_flags)

add_library(weather_http_text STATIC ${pellumo_root}/weather/http_head.cpp ${pellumo_root}/weather/body_framing.cpp
                                     ${pellumo_root}/weather/chunked_decoder.cpp)
target_link_libraries(weather_http_text PUBLIC service_flags)

# The scraper with the hosts it looks for: the build-time ones, since nothing here reads the
# environment's. The panel has no icon folder here.
add_library(weather_scrape STATIC ${pellumo_root}/weather/weather_scrape.cpp ${pellumo_root}/weather/weather_hosts.cpp
                                  ${pellumo_root}/weather/weather_panel_state.cpp
                                  ${pellumo_root}/weather/picture_folder_none.cpp)
target_link_libraries(weather_scrape PUBLIC weather_url)

add_library(settings_core STATIC ${pellumo_root}/settings/settings_line.cpp)
target_link_libraries(settings_core PUBLIC weather_url)

add_subdirectory(${pellumo_root}/fuzz ${CMAKE_BINARY_DIR}/fuzz)
