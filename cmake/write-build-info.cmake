# Writes lib/common/build_info.h from its template: the project's version and the revision of the
# source tree, rewritten only when one of them changed, so that nothing rebuilds without cause.
# Usage: cmake -DSOURCE_DIR=... -DVERSION=... -DOUTPUT=... -P write-build-info.cmake
set(REVISION unknown)
find_package(Git QUIET)
if(GIT_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} -C ${SOURCE_DIR} rev-parse --short=12 HEAD
        OUTPUT_VARIABLE commit RESULT_VARIABLE failed OUTPUT_STRIP_TRAILING_WHITESPACE
        ERROR_QUIET)
    if(NOT failed)
        set(REVISION ${commit})
        execute_process(COMMAND ${GIT_EXECUTABLE} -C ${SOURCE_DIR} diff --quiet HEAD --
            RESULT_VARIABLE changed ERROR_QUIET)
        if(changed)
            string(APPEND REVISION "-dirty")
        endif()
    endif()
endif()
configure_file(${SOURCE_DIR}/lib/common/build_info.h.in ${OUTPUT} @ONLY)
