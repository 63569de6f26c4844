# Fails when a program beside the server includes a header of the server's layers.
#
#   cmake -DROOT=<source dir> -DSTAMP=<file to touch> -P include_check.cmake
#
# The gateway, the proxy, the client library and its tool, and the shared tools may include
# the protocol floor (protocol/) and each other, never server/, ifc/, valve/ or lib/: they
# reach a controller over the wire only. ifc-settings (settings/) works on the settings files
# and may use the store; the tests, the benchmarks and the fuzz targets stand outside the rule.
set(checked_folders client gateway proxy tools)
set(server_folders server ifc valve lib)

list(JOIN server_folders "|" alternatives)
set(violations "")
foreach(folder IN LISTS checked_folders)
  file(GLOB_RECURSE sources "${ROOT}/${folder}/*.h" "${ROOT}/${folder}/*.cpp")
  foreach(source IN LISTS sources)
    file(STRINGS "${source}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<](${alternatives})/")
    foreach(line IN LISTS lines)
      file(RELATIVE_PATH relative "${ROOT}" "${source}")
      string(STRIP "${line}" line)
      list(APPEND violations "  ${relative}: ${line}")
    endforeach()
  endforeach()
endforeach()

if(violations)
  list(JOIN violations "\n" text)
  message(FATAL_ERROR "include check: a program beside the server includes the server's code "
                      "(only protocol/ is shared):\n${text}")
endif()
if(STAMP)
  file(TOUCH "${STAMP}")
endif()
