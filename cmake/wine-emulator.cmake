# Tests run under Wine, through scripts/wine64 (which keeps Wine's process starts reliable);
# scripts/wine-env sets up the private prefix and display they need.
if(EXISTS /usr/lib/wine/wine64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine64)
endif()
