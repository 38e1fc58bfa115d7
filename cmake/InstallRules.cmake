# What `cmake --install` puts under a prefix: the library and its header, the tools, a CMake
# package (find_package(crvmon CONFIG) gives crvmon::crvmon), a pkg-config file on Linux, and
# the project's notes and manuals. The Windows zip is this tree (scripts/package-windows.sh).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(CRVMON_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/crvmon)

install(TARGETS crvmon EXPORT crvmonTargets
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS crvmon-smi crvmon-exporter crvmon-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

if(WIN32)
    install(FILES ${CRVMON_MSVC_IMPORT_LIBRARY} DESTINATION ${CMAKE_INSTALL_LIBDIR})
    # crvmon-sim.exe and --simulate load the simulated Orvek driver from beside themselves.
    install(FILES ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/crvmon_orvek_sim.sys
        DESTINATION ${CMAKE_INSTALL_BINDIR})
    # A Windows user unpacks one folder: the notes sit at its top.
    set(CRVMON_NOTES_DIR .)
else()
    # The tools find libcrvmon.so wherever the prefix is moved.
    set_target_properties(crvmon-smi crvmon-exporter crvmon-sim PROPERTIES
        INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
    set(CRVMON_NOTES_DIR ${CMAKE_INSTALL_DOCDIR})

    # Relative to the .pc file itself, so that the prefix given at install time holds.
    file(RELATIVE_PATH CRVMON_PC_TO_PREFIX
        /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/package/crvmon.pc.in
        ${PROJECT_BINARY_DIR}/package/crvmon.pc @ONLY)
    install(FILES ${PROJECT_BINARY_DIR}/package/crvmon.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endif()
install(FILES README.md LICENSE CHANGELOG.md DESTINATION ${CRVMON_NOTES_DIR})
# The manuals of what a release holds, where the README's links find them; development.md and
# architecture.md are for the sources.
install(FILES docs/smi.md docs/exporter.md docs/python.md docs/release.md
    DESTINATION ${CRVMON_NOTES_DIR}/docs)

install(EXPORT crvmonTargets NAMESPACE crvmon:: DESTINATION ${CRVMON_CMAKE_PACKAGE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/package/crvmonConfig.cmake.in
    ${PROJECT_BINARY_DIR}/package/crvmonConfig.cmake
    INSTALL_DESTINATION ${CRVMON_CMAKE_PACKAGE_DIR})
# Before 1.0 a minor version may change the interface: only the same major.minor is compatible.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/package/crvmonConfigVersion.cmake
    COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/package/crvmonConfig.cmake
              ${PROJECT_BINARY_DIR}/package/crvmonConfigVersion.cmake
    DESTINATION ${CRVMON_CMAKE_PACKAGE_DIR})
