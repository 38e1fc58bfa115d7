# The MinGW build's OpenSSL, libxcrypt and yaml-cpp: no Debian package carries them, so they are
# built from Debian's source once per build tree (scripts/build-windows-web-deps.sh), as static
# libraries, and seen through imported targets of the names the native build finds.
set(CRVMON_WEB_DEPS ${CMAKE_BINARY_DIR}/third_party/web-deps)
execute_process(
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/build-windows-web-deps.sh ${CRVMON_WEB_DEPS}
    RESULT_VARIABLE built)
if(NOT built EQUAL 0)
    message(FATAL_ERROR "OpenSSL, libxcrypt or yaml-cpp could not be built into ${CRVMON_WEB_DEPS}")
endif()

function(crvmon_static_dep target library)
    add_library(${target} STATIC IMPORTED GLOBAL)
    set_target_properties(${target} PROPERTIES
        IMPORTED_LOCATION ${CRVMON_WEB_DEPS}/lib/${library}
        INTERFACE_INCLUDE_DIRECTORIES ${CRVMON_WEB_DEPS}/include
        INTERFACE_LINK_LIBRARIES "${ARGN}")
endfunction()
crvmon_static_dep(OpenSSL::Crypto libcrypto.a ws2_32 crypt32)
crvmon_static_dep(OpenSSL::SSL libssl.a OpenSSL::Crypto)
crvmon_static_dep(crvmon::crypt libcrypt.a bcrypt)
crvmon_static_dep(yaml-cpp libyaml-cpp.a)
