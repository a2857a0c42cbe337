# Installation layout, release images of the other targets and the toolkit packages.
#
#   bin/launcher-pack
#   lib/launcher/<target>/launcher             linux-x86_64, linux-i386
#   lib/launcher/<target>/launcher-console.exe windows-x86_64 (console)
#   lib/launcher/<target>/launcher.exe         windows-x86_64 (windowed: --target windows-x86_64-gui)
#   share/doc/launcher/*.md, share/man/man1/launcher-pack.1
include(GNUInstallDirs)

if(WIN32)
  set(LAUNCHER_IMAGE_TARGET windows-x86_64)
elseif(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(LAUNCHER_IMAGE_TARGET linux-i386)
else()
  set(LAUNCHER_IMAGE_TARGET linux-x86_64)
endif()
set(LAUNCHER_IMAGE_DIR lib/launcher)

# Strips an image and keeps its debug information in IMAGE.debug beside it.
function(launcher_split_debug target)
  if(NOT LAUNCHER_SPLIT_DEBUG OR NOT CMAKE_OBJCOPY)
    return()
  endif()
  set(image $<TARGET_FILE:${target}>)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug ${image} ${image}.debug
    COMMAND ${CMAKE_OBJCOPY} --strip-all --add-gnu-debuglink=${image}.debug ${image}
    COMMENT "Splitting the debug information of ${target}"
    VERBATIM)
endfunction()

# A release build also builds the images of the other targets, each in a build tree of its own
# below images/, so that one install holds every target.
if(LAUNCHER_BUNDLE_TARGETS)
  include(ExternalProject)
  set(bundled linux-i386 windows-x86_64)
  foreach(target IN LISTS bundled)
    if(target STREQUAL "linux-i386")
      set(toolchain ${PROJECT_SOURCE_DIR}/cmake/i386-linux.cmake)
      set(image_targets launcher)
      set(images launcher)
    else()
      # The console image and the windowed one.
      set(toolchain ${PROJECT_SOURCE_DIR}/cmake/windows-x64.cmake)
      set(image_targets launcher-console launcher)
      set(images launcher-console.exe launcher.exe)
    endif()
    ExternalProject_Add(image-${target}
      SOURCE_DIR ${PROJECT_SOURCE_DIR}
      BINARY_DIR ${CMAKE_BINARY_DIR}/images/${target}
      CMAKE_ARGS
        -G ${CMAKE_GENERATOR}
        -DCMAKE_TOOLCHAIN_FILE=${toolchain}
        -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
        -DLAUNCHER_TESTS=OFF
        -DLAUNCHER_JAVA=OFF
        -DLAUNCHER_WERROR=${LAUNCHER_WERROR}
        -DLAUNCHER_SPLIT_DEBUG=${LAUNCHER_SPLIT_DEBUG}
      BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target ${image_targets}
      INSTALL_COMMAND ""
      BUILD_ALWAYS ON
      USES_TERMINAL_BUILD ON)
    list(TRANSFORM images PREPEND ${CMAKE_BINARY_DIR}/images/${target}/src/)
    install(PROGRAMS ${images} DESTINATION ${LAUNCHER_IMAGE_DIR}/${target})
  endforeach()
endif()

install(FILES README.md docs/guide.md docs/packaging.md docs/windows.md docs/portability.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR} OPTIONAL)
install(FILES docs/launcher-pack.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_PACKAGE_NAME launcher)
set(CPACK_PACKAGE_VENDOR "launcher developers")
set(CPACK_PACKAGE_CONTACT "launcher developers <launcher@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Turns a Java application into one self-contained executable (launcher-pack and images)")
set(CPACK_GENERATOR TGZ DEB)
set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${LAUNCHER_IMAGE_TARGET}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
# launcher-pack is linked statically and the images load their runtime themselves.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "default-jdk-headless | java-sdk")
# The images are stripped already (their debug information stays in the build tree).
set(CPACK_STRIP_FILES ON)
set(CPACK_THREADS 2)
include(CPack)
