# How the build keeps the layers apart (docs/architecture.md, "Keeping the
# layers apart").
#
# Includes are written from src/ ("bridge/records.h", "app/linux/file_store.h"),
# but no target puts src/ itself on the path: each layer publishes an include
# root of its own under <build>/layers/<target>/, holding links to the headers
# of exactly its folders. A target reaches a header only through a layer it
# links, so the bridge cannot include "app/…" and the core cannot include
# "app/linux/…" or "shortcuts/x11/…": the file is simply not there.
#
# The X11, xcb, xkbcommon and Avahi headers live in the system's include
# directory, which every target searches. The core's targets therefore search
# a guard directory first, with one header for each of those that only fails.

set(LUMORA_LAYERS_DIR ${PROJECT_BINARY_DIR}/layers)

# lumora_publish_headers(<target> [BASE <dir>] <folder>...): the headers
# directly in each <folder> (relative to BASE, src/ by default; subfolders are
# not included) become reachable, spelled "<folder>/<name>.h", for the target
# and whatever links it.
function(lumora_publish_headers target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "BASE" "")
  if(NOT arg_BASE)
    set(arg_BASE ${PROJECT_SOURCE_DIR}/src)
  endif()
  set(root ${LUMORA_LAYERS_DIR}/${target})
  # Made afresh at each configure, so a header moved to another layer leaves
  # no link behind.
  file(REMOVE_RECURSE ${root})
  foreach(folder IN LISTS arg_UNPARSED_ARGUMENTS)
    file(GLOB headers CONFIGURE_DEPENDS RELATIVE ${arg_BASE} ${arg_BASE}/${folder}/*.h)
    if(NOT headers)
      message(FATAL_ERROR "lumora_publish_headers(${target}): no headers in ${arg_BASE}/${folder}")
    endif()
    file(MAKE_DIRECTORY ${root}/${folder})
    foreach(header IN LISTS headers)
      file(CREATE_LINK ${arg_BASE}/${header} ${root}/${header} SYMBOLIC)
    endforeach()
  endforeach()
  target_include_directories(${target} PUBLIC ${root})
endfunction()

# The guard: for every header the X11, xcb, xkbcommon and Avahi development
# packages installed, one of the same name that stops the compile. All of them,
# not only the usual entry points: <xcb/xproto.h> would otherwise pull in the
# real <xcb/xcb.h> from beside itself.
set(LUMORA_CORE_GUARD_DIR ${PROJECT_BINARY_DIR}/core-guard)
file(REMOVE_RECURSE ${LUMORA_CORE_GUARD_DIR})
set(guard_search_dirs ${CMAKE_CXX_IMPLICIT_INCLUDE_DIRECTORIES} ${XCB_INCLUDE_DIRS}
  ${AVAHI_INCLUDE_DIRS} ${LUMORA_XINPUT_INCLUDE_DIRS})
list(REMOVE_DUPLICATES guard_search_dirs)
set(guarded_headers "")
foreach(dir IN LISTS guard_search_dirs)
  foreach(folder X11 xcb xkbcommon avahi-client avahi-common avahi-core avahi-glib)
    file(GLOB_RECURSE found RELATIVE ${dir} ${dir}/${folder}/*.h)
    list(APPEND guarded_headers ${found})
  endforeach()
endforeach()
list(REMOVE_DUPLICATES guarded_headers)
foreach(header IN LISTS guarded_headers)
  file(CONFIGURE OUTPUT ${LUMORA_CORE_GUARD_DIR}/${header} @ONLY CONTENT
"// Made by cmake/layers.cmake: the core's stand-in for <@header@>.
#error \"the core stays free of X11 and Avahi: <@header@> belongs in a platform back-end (src/shortcuts/x11, src/app/x11, src/bridge/avahi) or the shell\"
")
endforeach()
if(NOT "xcb/xcb.h" IN_LIST guarded_headers OR NOT "avahi-client/client.h" IN_LIST guarded_headers)
  message(FATAL_ERROR "core guard: the xcb and Avahi headers were not found in ${guard_search_dirs}")
endif()

# lumora_guard_core(<target>): the target's own files cannot include X11 or
# Avahi headers. Private, so the platform code that links the core is free to.
function(lumora_guard_core target)
  target_include_directories(${target} BEFORE PRIVATE ${LUMORA_CORE_GUARD_DIR})
endfunction()
