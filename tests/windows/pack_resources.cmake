# Packs launcher-console.exe with an icon, version information and a splash image, using the
# Linux launcher-pack of the default build (cmake -P with TOOL, IMAGE, SOURCE = this directory,
# and OUT). Without that tool nothing is written and the tests that read OUT skip.
file(REMOVE "${OUT}")
if(NOT EXISTS "${TOOL}")
  message("launcher-pack not found at ${TOOL} (build the default preset first); "
          "the tests of packed resources skip")
  return()
endif()

# A jar holding the class the settings name, so that launcher-pack has nothing to warn about.
get_filename_component(work "${OUT}" DIRECTORY)
set(classes "${work}/resources-jar")
file(REMOVE_RECURSE "${classes}")
file(WRITE "${classes}/test/Main.class" "not a class; the test JVM never reads it")
execute_process(COMMAND "${CMAKE_COMMAND}" -E tar cf "${work}/resources.jar" --format=zip test
  WORKING_DIRECTORY "${classes}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cannot write ${work}/resources.jar")
endif()

# The JVM library is looked for beside the executable, with splashscreen.dll one directory up.
execute_process(COMMAND "${TOOL}" --launcher "${IMAGE}" --jar "${work}/resources.jar"
    --set "mainclass test.Main" --set "jvmdll rt\\bin\\server\\jvm.dll"
    --icon "${SOURCE}/app.ico" --splash "${SOURCE}/splash.bin"
    --version-info "product-name=Resource Test" --version-info file-version=2.1.0.7
    --version-info "company=Example Company" -o "${OUT}"
  RESULT_VARIABLE status ERROR_VARIABLE errors)
if(NOT status EQUAL 0 OR NOT errors STREQUAL "")
  message(FATAL_ERROR "launcher-pack failed (${status}): ${errors}")
endif()
