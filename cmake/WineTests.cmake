# Windows test programs run under Wine, inside one Wine session kept in the build folder.
set(CRVMON_WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(CRVMON_WINE_SESSION ${CMAKE_SOURCE_DIR}/cmake/wine-session.sh)
# Test programs run through a runner that names Wine's own failures, which WINEDEBUG=-all keeps
# silent. Test scripts that signal the programs they start run them with wine64 itself.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/cmake/wine-run.sh ${CRVMON_WINE_PREFIX})
set(CRVMON_WINE_COMMAND env WINEPREFIX=${CRVMON_WINE_PREFIX} WINEDEBUG=-all /usr/lib/wine/wine64)

# Test discovery runs the programs at build time, so the session must be up before it.
add_custom_target(wine_session
    COMMAND ${CRVMON_WINE_SESSION} start ${CRVMON_WINE_PREFIX}
    COMMENT "Starting the Wine session for the Windows tests"
    VERBATIM)

# CTest brings the session up again if it ended between build and test, and ends it afterwards.
function(crvmon_add_wine_session_fixture)
    add_test(NAME wine_session_start
        COMMAND ${CRVMON_WINE_SESSION} start ${CRVMON_WINE_PREFIX})
    add_test(NAME wine_session_stop
        COMMAND ${CRVMON_WINE_SESSION} stop ${CRVMON_WINE_PREFIX})
    set_tests_properties(wine_session_start PROPERTIES FIXTURES_SETUP wine)
    set_tests_properties(wine_session_stop PROPERTIES FIXTURES_CLEANUP wine)
endfunction()
