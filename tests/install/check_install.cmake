# Installs the build tree into a scratch prefix and checks the result.
# Arguments: BUILD_DIR, PREFIX, VERSION, GUI, MANUAL_FROM_PROGRAM.
file(REMOVE_RECURSE "${PREFIX}")
# The build tree's own list of installed files is not this scratch install's.
set(manifest "${BUILD_DIR}/install_manifest.txt")
if(EXISTS "${manifest}")
  file(RENAME "${manifest}" "${manifest}.saved")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
  RESULT_VARIABLE result OUTPUT_QUIET)
if(EXISTS "${manifest}.saved")
  file(RENAME "${manifest}.saved" "${manifest}")
else()
  file(REMOVE "${manifest}")
endif()
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

set(failures "")
function(expect_file path)
  if(NOT EXISTS "${PREFIX}/${path}" OR IS_DIRECTORY "${PREFIX}/${path}")
    set(failures "${failures}\n  missing: ${path}" PARENT_SCOPE)
  endif()
endfunction()
function(expect_man_page page)
  expect_file(share/man/man1/${page}.1)
  set(failures "${failures}" PARENT_SCOPE)
  if(EXISTS "${PREFIX}/share/man/man1/${page}.1")
    file(STRINGS "${PREFIX}/share/man/man1/${page}.1" title LIMIT_COUNT 1)
    if(NOT title MATCHES "^\\.TH .* \"Pellora ${VERSION}\" ")
      set(failures "${failures}\n  ${page}.1 does not name version ${VERSION}: ${title}"
        PARENT_SCOPE)
    endif()
  endif()
endfunction()

expect_file(bin/pellora-cli)
expect_man_page(pellora-cli)
expect_file(share/doc/pellora/LICENSE)

if(GUI)
  foreach(path bin/pellora bin/purgekey share/applications/pellora.desktop
      share/metainfo/jp.varnel.Pellora.metainfo.xml
      share/icons/hicolor/scalable/apps/pellora.svg
      share/pellora/manual/pehelp00.html)
    expect_file(${path})
  endforeach()
  expect_man_page(pellora)
  expect_man_page(purgekey)
  # Each bitmap icon has the size of the folder it is in (width and height as the
  # PNG header's 32-bit numbers).
  foreach(size_and_hex "48;00000030" "64;00000040")
    list(GET size_and_hex 0 size)
    list(GET size_and_hex 1 hex)
    set(icon "share/icons/hicolor/${size}x${size}/apps/pellora.png")
    expect_file(${icon})
    if(EXISTS "${PREFIX}/${icon}")
      file(READ "${PREFIX}/${icon}" header OFFSET 16 LIMIT 8 HEX)
      if(NOT header STREQUAL "${hex}${hex}")
        set(failures "${failures}\n  ${icon} is not ${size}x${size} (header ${header})")
      endif()
    endif()
  endforeach()
  # The program finds its help pages relative to itself.
  if(NOT EXISTS "${PREFIX}/bin/${MANUAL_FROM_PROGRAM}/pehelp00.html")
    set(failures "${failures}\n  no help page at bin/${MANUAL_FROM_PROGRAM}")
  endif()
endif()

if(failures)
  message(FATAL_ERROR "The installation is incomplete:${failures}")
endif()
file(REMOVE_RECURSE "${PREFIX}")
