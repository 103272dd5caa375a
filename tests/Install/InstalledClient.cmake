# Run by ctest as `cmake -P`: see CMakeLists.txt beside this file. Everything
# happens under WORK_DIR, which is removed on every way out.
cmake_minimum_required(VERSION 3.25)

function(finish status message)
  file(REMOVE_RECURSE "${WORK_DIR}")
  if(status)
    message(FATAL_ERROR "${message}")
  endif()
  message("${message}")
endfunction()

# run(<what> COMMAND...): runs a command, stops the test with its output when
# it fails; its standard output is left in RUN_OUTPUT.
function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    finish(1 "${what} failed (${result}):\n${out}\n${err}")
  endif()
  set(RUN_OUTPUT "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
set(prefix "${WORK_DIR}/prefix")

run("cmake --install" ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}")
foreach(file ${LIBDIR}/libVemPlatform.so ${LIBDIR}/libVemComServer.so ${BINDIR}/vem
             include/vem/vem.h include/vem/Platform/ComUtil.h
             ${LIBDIR}/cmake/VemComServer/VemComServerConfig.cmake
             ${LIBDIR}/pkgconfig/vemcomserver.pc)
  if(NOT EXISTS "${prefix}/${file}")
    finish(1 "cmake --install did not install ${file}")
  endif()
endforeach()
foreach(internal OleAutoInternal.h Win32Internal.h RegistryStore.h)
  if(EXISTS "${prefix}/include/vem/Platform/${internal}")
    finish(1 "cmake --install installed the internal header ${internal}")
  endif()
endforeach()

# The client through find_package(VemComServer).
set(launcher)
if(LAUNCHER)
  set(launcher -DCMAKE_CXX_COMPILER_LAUNCHER=${LAUNCHER})
endif()
run("configuring the client" ${CMAKE_COMMAND} -S "${SOURCE_DIR}/examples/client"
    -B "${WORK_DIR}/client" -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX} ${launcher}
    "-DCMAKE_CXX_FLAGS=${CLIENT_FLAGS}")
run("building the client" ${CMAKE_COMMAND} --build "${WORK_DIR}/client")

# The client from a plain compiler command line with pkg-config's flags: the
# installed include directory is the only one.
set(ENV{PKG_CONFIG_PATH} "${prefix}/${LIBDIR}/pkgconfig")
run("pkg-config" pkg-config --cflags --libs vemcomserver)
string(STRIP "${RUN_OUTPUT}" flags)
separate_arguments(flags UNIX_COMMAND "${flags}")
if(flags MATCHES "/src")
  finish(1 "pkg-config names a source directory: ${flags}")
endif()
separate_arguments(client_flags UNIX_COMMAND "${CLIENT_FLAGS}")
run("compiling the client with pkg-config's flags" ${CXX} -std=c++20 -Wall -Wextra -Werror ${client_flags}
    "${SOURCE_DIR}/examples/client/main.cpp" ${flags} "-Wl,-rpath,${prefix}/${LIBDIR}"
    -o "${WORK_DIR}/vem_client_pc")

# A database made by the installed tool, the server registered by it into a
# temporary registry, and both clients run against it.
set(vem "${prefix}/${BINDIR}/vem")
set(database "${WORK_DIR}/customers.db")
run("vem create" "${vem}" create "${database}" --schema "${SOURCE_DIR}/examples/schema/demo.json")
set(ENV{VEM_REGISTRY} "${WORK_DIR}/registry.db")
run("vem register" "${vem}" register)
if(NOT RUN_OUTPUT MATCHES "${prefix}/${LIBDIR}/libVemComServer.so")
  finish(1 "vem register did not register the installed module: ${RUN_OUTPUT}")
endif()
run("the client (find_package)" "${WORK_DIR}/client/vem_client" "${database}")
set(found "client (find_package): ${RUN_OUTPUT}")
run("the client (pkg-config)" "${WORK_DIR}/vem_client_pc" "${database}")
finish(0 "${found}client (pkg-config): ${RUN_OUTPUT}")
