# Google Benchmark as benchmark::benchmark. Natively Debian's package; no Debian package carries a
# MinGW build of it, so the Windows build compiles Debian's source, fetched once into the build
# folder by scripts/fetch-debian-source.sh.
if(TARGET benchmark::benchmark)
    return()
endif()
if(NOT CMAKE_CROSSCOMPILING)
    find_package(benchmark REQUIRED)
    return()
endif()

set(CRVMON_BENCHMARK_SOURCE ${CMAKE_BINARY_DIR}/_deps/benchmark-src)
execute_process(
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/fetch-debian-source.sh benchmark ${CRVMON_BENCHMARK_SOURCE}
            include/benchmark/benchmark.h
    RESULT_VARIABLE fetched)
if(NOT fetched EQUAL 0)
    # The benchmarks are not tests: the rest of the build goes on without them.
    message(WARNING "Google Benchmark's source could not be fetched into "
        "${CRVMON_BENCHMARK_SOURCE}; the Windows benchmarks are left out of this build")
    return()
endif()

set(BENCHMARK_ENABLE_TESTING OFF CACHE BOOL "" FORCE)
set(BENCHMARK_ENABLE_GTEST_TESTS OFF CACHE BOOL "" FORCE)
set(BENCHMARK_ENABLE_INSTALL OFF CACHE BOOL "" FORCE)
set(BENCHMARK_ENABLE_WERROR OFF CACHE BOOL "" FORCE)
set(BENCHMARK_INSTALL_DOCS OFF CACHE BOOL "" FORCE)
# Its feature checks cannot run a cross-built program; MinGW-w64's libstdc++ has both.
set(HAVE_STD_REGEX 1)
set(HAVE_STEADY_CLOCK 1)

# The unpacked source has no Git history: keep its version probe from describing, and refreshing
# the index of, the checkout that holds the build folder.
set(previous_ceiling "$ENV{GIT_CEILING_DIRECTORIES}")
set(ENV{GIT_CEILING_DIRECTORIES} ${CMAKE_BINARY_DIR}/_deps)
add_subdirectory(${CRVMON_BENCHMARK_SOURCE} ${CMAKE_BINARY_DIR}/_deps/benchmark-build
    EXCLUDE_FROM_ALL)
set(ENV{GIT_CEILING_DIRECTORIES} "${previous_ceiling}")

# Its sources are not held to the project's warnings.
target_compile_options(benchmark PRIVATE -w)
