# Tests run under Wine, through scripts/wine64 (which keeps Wine's process starts reliable), in the
# build's own private Wine environment: scripts/wine-env keeps its prefix and display in
# VELLOMAR_WINE_STATE, which a test fixture starts and stops (tests/CMakeLists.txt).
if(EXISTS /usr/lib/wine/wine64)
  set(VELLOMAR_WINE_STATE ${CMAKE_BINARY_DIR}/wine)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_COMMAND} -E env VELLOMAR_WINE_STATE=${VELLOMAR_WINE_STATE}
      ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine64)
endif()
