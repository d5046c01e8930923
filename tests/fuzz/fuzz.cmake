# Included from the top-level CMakeLists.txt when AUX_NVRAM_FUZZ is on:
# clang's libFuzzer with AddressSanitizer and UndefinedBehaviorSanitizer.
# Configure with CXX=clang++-14; the tests are left out of such a build.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "AUX_NVRAM_FUZZ needs clang (configure with CXX=clang++-14)")
endif()
set(AUX_NVRAM_BUILD_TESTS OFF CACHE BOOL "" FORCE)
add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                    -fno-sanitize-recover=undefined -g)
add_link_options(-fsanitize=address,undefined)
add_subdirectory(${CMAKE_CURRENT_LIST_DIR} ${CMAKE_BINARY_DIR}/fuzz)
