# The state that Windows tests share outside their own scratch files, and each program's label.
# Read twice: by tests/CMakeLists.txt at configure time, where every suite named here must be
# defined in its program's sources, and by ctest once it has listed the tests (gtest_discover_tests'
# lists), where every suite must name at least one test; either way a suite that matches nothing is
# an error, so that renaming a suite cannot silently drop its lock. `ctest -j` then never runs two
# users of the same state at once.
# - uninstall_entry: the application's real uninstall entry, which the stamp, the helper and the
#   sample's installers write, and ScratchEntryTest claims only where it does not exist yet.
# - update_lock: the session's named mutex, which every helper run with an installation directory
#   takes; another test's helper would hold it and shift every timed step.
# - screen: the one Xvfb display. The helper's error boxes all open in its middle, and a box is
#   checked for its error icon by the screen's pixels, which a box of another test, opened over it,
#   would hide.
# The real installer runs alone: it writes both, and its box watch reads and dismisses every
# process's boxes with the helper's caption, another test's box among them.
# Wine's per-program settings are not shared: the planted-DLL tests name theirs after their own
# fresh folder.

# `suite` as ctest lists the tests: `Suite` (TEST, TEST_F) or `Prefix/Suite` (INSTANTIATE_TEST_SUITE_P).
function(vellomar_shared_state program suite property value)
  if(vellomar_state_check)
    if(suite MATCHES "^([A-Za-z0-9_]+)/([A-Za-z0-9_]+)$")
      set(definition "INSTANTIATE_TEST_SUITE_P\\([ \t\r\n]*${CMAKE_MATCH_1}[ \t\r\n]*,[ \t\r\n]*${CMAKE_MATCH_2}[ \t\r\n]*,")
    else()
      set(definition "TEST(_F)?\\([ \t\r\n]*${suite}[ \t\r\n]*,")
    endif()
    get_target_property(sources ${program} SOURCES)
    foreach(source IN LISTS sources)
      file(READ ${CMAKE_CURRENT_SOURCE_DIR}/${source} text)
      if(text MATCHES "${definition}")
        return()
      endif()
    endforeach()
    message(FATAL_ERROR "windows_test_state.cmake: no suite ${suite} in the sources of ${program}")
  endif()
  set(matched FALSE)
  foreach(test IN LISTS ${program}_TESTS)
    if(test MATCHES "^${suite}\\.")
      set_tests_properties("${test}" PROPERTIES ${property} "${value}")
      set(matched TRUE)
    endif()
  endforeach()
  if(NOT matched)
    message(FATAL_ERROR "windows_test_state.cmake: ctest lists no test of ${suite} in ${program}")
  endif()
endfunction()

if(NOT vellomar_state_check)
  foreach(program platform e2e)
    foreach(test IN LISTS ${program}_tests_TESTS)
      set_tests_properties("${test}" PROPERTIES LABELS ${program})
    endforeach()
  endforeach()
endif()
vellomar_shared_state(platform_tests UninstallEntry RESOURCE_LOCK uninstall_entry)
vellomar_shared_state(e2e_tests Update RESOURCE_LOCK "uninstall_entry;update_lock;screen")
vellomar_shared_state(e2e_tests RealHelper/UpdateTable RESOURCE_LOCK "uninstall_entry;update_lock;screen")
vellomar_shared_state(e2e_tests RealHelper RESOURCE_LOCK screen)
vellomar_shared_state(e2e_tests RealHelper/BadOptions RESOURCE_LOCK screen)
vellomar_shared_state(e2e_tests DllSearch RESOURCE_LOCK screen)
vellomar_shared_state(e2e_tests RealInstaller RUN_SERIAL TRUE)
