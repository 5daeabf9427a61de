# Cross-compiles the helper for 64-bit Windows with Debian's clang and lld, against the same runtime
# as the GCC build: the mingw-w64 headers and import libraries, and libstdc++ and libgcc of MinGW's
# GCC in its win32 thread model (so, as there, no winpthread).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER   clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET   x86_64-w64-mingw32)
set(CMAKE_CXX_COMPILER_TARGET x86_64-w64-mingw32)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
# The LTO objects are LLVM bitcode: only LLVM's archiver can index them for lld.
set(CMAKE_AR     llvm-ar     CACHE FILEPATH "")
set(CMAKE_RANLIB llvm-ranlib CACHE FILEPATH "")
set(CMAKE_SYSROOT /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Clang 14 looks for the GCC installation under lib/gcc/x86_64-w64-mingw32/<version>, and Debian
# names it `12-win32`, which clang does not read as a version: so ask that GCC where its libgcc is,
# and name its C++ headers, its libraries and its crtbegin.o/crtend.o (found through -B) ourselves.
execute_process(COMMAND x86_64-w64-mingw32-g++-win32 -print-libgcc-file-name
  OUTPUT_VARIABLE libgcc_file OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE libgcc_result)
if(NOT libgcc_result EQUAL 0 OR NOT EXISTS "${libgcc_file}")
  message(FATAL_ERROR "x86_64-w64-mingw32-g++-win32 not found: install g++-mingw-w64-x86-64-win32")
endif()
get_filename_component(VELLOMAR_MINGW_GCC_DIR "${libgcc_file}" DIRECTORY)
set(cxx_headers "${VELLOMAR_MINGW_GCC_DIR}/include/c++")
string(JOIN " " CMAKE_CXX_FLAGS_INIT -nostdinc++ -isystem "${cxx_headers}"
  -isystem "${cxx_headers}/x86_64-w64-mingw32" -isystem "${cxx_headers}/backward")
# CMake passes the compile flags to the link step too, where -nostdinc++ is unused.
set(link_flags "-fuse-ld=lld -B${VELLOMAR_MINGW_GCC_DIR} -L${VELLOMAR_MINGW_GCC_DIR} -Wno-unused-command-line-argument")
set(CMAKE_EXE_LINKER_FLAGS_INIT    "${link_flags}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${link_flags}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${link_flags}")

include(${CMAKE_CURRENT_LIST_DIR}/wine-emulator.cmake)
