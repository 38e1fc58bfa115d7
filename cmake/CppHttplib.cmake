# cpp-httplib as httplib::httplib. Natively Debian's package: its header and compiled library.
# No Debian package carries a MinGW build of it: the Windows build takes the single header of
# Debian's source, fetched once into the build folder by scripts/fetch-debian-source.sh.
if(TARGET httplib::httplib)
    return()
endif()
if(NOT CMAKE_CROSSCOMPILING)
    # Through its pkg-config file: the library was built with TLS and compression support, which
    # changes the layout of its classes, so every user must see the same defines.
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(CRVMON_HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
    add_library(httplib::httplib ALIAS PkgConfig::CRVMON_HTTPLIB)
    return()
endif()

add_library(httplib::httplib INTERFACE IMPORTED GLOBAL)
set(CRVMON_HTTPLIB_SOURCE ${CMAKE_BINARY_DIR}/_deps/cpp-httplib-src)
execute_process(
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/fetch-debian-source.sh cpp-httplib
            ${CRVMON_HTTPLIB_SOURCE} httplib.h
    RESULT_VARIABLE fetched)
if(NOT fetched EQUAL 0)
    message(FATAL_ERROR "cpp-httplib's source could not be fetched into ${CRVMON_HTTPLIB_SOURCE}")
endif()
# Its own folder, so that the MinGW build does not see the rest of the source tree.
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/third_party/httplib)
configure_file(${CRVMON_HTTPLIB_SOURCE}/httplib.h ${CMAKE_BINARY_DIR}/third_party/httplib/httplib.h
    COPYONLY)
# With TLS, as the native package is built: the exporter serves HTTPS on Windows too.
set_target_properties(httplib::httplib PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES ${CMAKE_BINARY_DIR}/third_party/httplib
    INTERFACE_COMPILE_DEFINITIONS CPPHTTPLIB_OPENSSL_SUPPORT
    INTERFACE_LINK_LIBRARIES "OpenSSL::SSL;OpenSSL::Crypto;ws2_32")
