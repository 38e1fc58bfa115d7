# crvmon_build_info: the generated lib/common/build_info.h (the version and the source revision)
# for the programs that print them. The revision is read at every build.
set(CRVMON_BUILD_INFO_DIR ${CMAKE_BINARY_DIR}/generated)
set(CRVMON_BUILD_INFO_HEADER ${CRVMON_BUILD_INFO_DIR}/lib/common/build_info.h)
add_custom_target(crvmon_build_info_header
    COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DVERSION=${PROJECT_VERSION}
            -DOUTPUT=${CRVMON_BUILD_INFO_HEADER} -P ${PROJECT_SOURCE_DIR}/cmake/write-build-info.cmake
    BYPRODUCTS ${CRVMON_BUILD_INFO_HEADER}
    COMMENT "Reading the source revision"
    VERBATIM)
add_library(crvmon_build_info INTERFACE)
target_include_directories(crvmon_build_info INTERFACE ${CRVMON_BUILD_INFO_DIR})
add_dependencies(crvmon_build_info crvmon_build_info_header)
