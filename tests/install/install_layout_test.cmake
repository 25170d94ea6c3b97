# Installs the build tree BUILD into the scratch folder OUT (as DESTDIR) twice: as an install
# from source does (prefix /usr/local) and as the Debian package does (prefix /usr). Each time
# every plug-in of the build must land in prefix/lib/sorowa, the one of the program's two
# machine-wide plug-in folders that belongs to that prefix, and nothing in the other one; the
# help file must sit beside the program, where the program looks for it.
file(GLOB plugins RELATIVE ${BUILD}/src ${BUILD}/src/*.spi)
if(NOT plugins)
  message(FATAL_ERROR "No plug-in in ${BUILD}/src to check")
endif()

set(failures "")
function(expect path)
  if(NOT EXISTS ${OUT}${path})
    set(failures "${failures}\n  missing ${path}" PARENT_SCOPE)
  endif()
endfunction()

set(prefixes /usr/local /usr)
set(others /usr /usr/local)
foreach(prefix other IN ZIP_LISTS prefixes others)
  file(REMOVE_RECURSE ${OUT})
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${OUT} ${CMAKE_COMMAND} --install ${BUILD} --prefix ${prefix}
    RESULT_VARIABLE result OUTPUT_QUIET)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install ${BUILD} --prefix ${prefix} failed: ${result}")
  endif()
  foreach(plugin IN LISTS plugins)
    expect(${prefix}/lib/sorowa/${plugin})
    if(EXISTS ${OUT}${other}/lib/sorowa/${plugin})
      set(failures "${failures}\n  ${plugin} installed into ${other}/lib/sorowa")
    endif()
  endforeach()
  expect(${prefix}/bin/sorowa)
  expect(${prefix}/bin/sorowa.HLP)
  expect(${prefix}/share/applications/sorowa.desktop)
  expect(${prefix}/share/man/man1/sorowa.1.gz)
endforeach()
file(REMOVE_RECURSE ${OUT})

if(failures)
  message(FATAL_ERROR "Install layout:${failures}")
endif()
