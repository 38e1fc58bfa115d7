# What the exporter's --web.config.file needs: OpenSSL (TLS, through cpp-httplib's HTTPS server),
# libxcrypt (crypt_r for the bcrypt hashes) and yaml-cpp (the file). Natively Debian's packages.
if(TARGET crvmon::crypt)
    return()
endif()
if(NOT CMAKE_CROSSCOMPILING)
    find_package(OpenSSL REQUIRED)
    find_package(yaml-cpp REQUIRED)
    find_library(CRVMON_LIBCRYPT crypt REQUIRED)
    add_library(crvmon::crypt UNKNOWN IMPORTED GLOBAL)
    set_target_properties(crvmon::crypt PROPERTIES IMPORTED_LOCATION ${CRVMON_LIBCRYPT})
    return()
endif()
include(cmake/WindowsWebConfigDeps.cmake)
