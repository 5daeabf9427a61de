# Installs the build into a scratch prefix and builds tests/consumer against it with the same
# toolchain. -D: BUILD_DIR, CONSUMER_DIR, WORK_DIR, TOOLCHAIN, GENERATOR, CONFIG.
set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "failed (${result}): ${ARGN}")
  endif()
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} --config ${CONFIG})
# A cross toolchain searches packages below its root only, so the package's folder is named.
run(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/build -G ${GENERATOR} -DCMAKE_BUILD_TYPE=${CONFIG}
    -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN} -Dvellomar_update_DIR=${prefix}/lib/cmake/vellomar_update)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build --config ${CONFIG})
foreach(file consumer_static.exe consumer_dll.exe vellomar-update.exe)
  if(NOT EXISTS ${WORK_DIR}/build/${file})
    message(FATAL_ERROR "the consumer build made no ${file}")
  endif()
endforeach()
