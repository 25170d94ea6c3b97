# Which folders of src/ each folder's files may include from: the layers of
# docs/architecture.md, checked on the sources themselves, so that a header of a library above
# (or beside) fails here even where it would build. cmake -DSRC=<src folder> -P this file.
cmake_minimum_required(VERSION 3.25)
set(rules
  "platform: platform"
  "platform/ui: platform platform/ui"
  "picture: picture platform"
  "picture/jpeg: picture picture/jpeg platform"
  "picture/gif: picture picture/gif platform"
  "spi: spi picture platform sorowa"
  "spi/plugins: sorowa"
  "settings: settings platform platform/ui"
  "rename: rename platform"
  "rename/ui: rename rename/ui workspace platform platform/ui"
  "arrangement: arrangement platform"
  "workspace: workspace picture platform platform/ui"
)
set(faults "")
set(checked 0)
foreach(rule IN LISTS rules)
  string(REGEX MATCH "^([^:]+): (.*)$" _ "${rule}")
  set(folder "${CMAKE_MATCH_1}")
  string(REPLACE " " ";" allowed "${CMAKE_MATCH_2}")
  file(GLOB sources "${SRC}/${folder}/*.h" "${SRC}/${folder}/*.cpp" "${SRC}/${folder}/*.c")
  if(NOT sources)
    string(APPEND faults "\n  ${folder}: no sources (the rule names a folder that moved)")
  endif()
  foreach(source IN LISTS sources)
    math(EXPR checked "${checked} + 1")
    file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line IN LISTS includes)
      string(REGEX MATCH "\"([^\"]+)\"" _ "${line}")
      set(header "${CMAKE_MATCH_1}")
      get_filename_component(from "${header}" DIRECTORY)
      if(from STREQUAL "" OR NOT from IN_LIST allowed)
        file(RELATIVE_PATH name "${SRC}" "${source}")
        string(APPEND faults "\n  ${name} includes \"${header}\"")
      endif()
    endforeach()
  endforeach()
endforeach()
if(faults)
  message(FATAL_ERROR "Includes across the layers:${faults}")
endif()
message(STATUS "${checked} files keep to their layers")
