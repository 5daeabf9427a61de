# Read by ctest after it has listed the Windows tests (gtest_discover_tests' lists): each program's
# label, and the state that tests share outside their own scratch files, so that `ctest -j` never
# runs two users of the same state at once.
# - uninstall_entry: the application's real uninstall entry, which the stamp, the helper and the
#   sample's installers write, and ScratchEntryTest claims only where it does not exist yet.
# - update_lock: the session's named mutex, which every helper run with an installation directory
#   takes; another test's helper would hold it and shift every timed step.
# The real installer runs alone: it writes both, and its box watch reads and dismisses every
# process's boxes with the helper's caption, another test's box among them.
# Wine's per-program settings are not shared: the planted-DLL tests name theirs after their own
# fresh folder.
foreach(test IN LISTS platform_tests_TESTS)
  set_tests_properties("${test}" PROPERTIES LABELS platform)
  if(test MATCHES "^UninstallEntry\\.")
    set_tests_properties("${test}" PROPERTIES RESOURCE_LOCK uninstall_entry)
  endif()
endforeach()
foreach(test IN LISTS e2e_tests_TESTS)
  set_tests_properties("${test}" PROPERTIES LABELS e2e)
  if(test MATCHES "^(Update|RealHelper/UpdateTable)\\.")
    set_tests_properties("${test}" PROPERTIES RESOURCE_LOCK "uninstall_entry;update_lock")
  elseif(test MATCHES "^RealInstaller\\.")
    set_tests_properties("${test}" PROPERTIES RUN_SERIAL TRUE)
  endif()
endforeach()
