# Compiles a module's resource files into it and registers them with the platform when the module
# loads (see platform/win/resources.h).
#
#   vkr_add_resources(<target> <manifest>)
#
# The manifest lists one resource a line, paths relative to the manifest; '#' starts a comment:
#
#   HTML        235  templates/dtm_information_12.xml
#   REGISTRY    101  scripts/dtm.rgs
#   BITMAP      105  bitmaps/online.bmp
#   STRINGTABLE -    strings.txt
#
# Types: HTML (23), BITMAP (2), ICON (3), DIALOG (5), RCDATA (10), a number, or any other word,
# which becomes a named type ("REGISTRY"). STRINGTABLE names a string table text (no id). A DIALOG
# file is the dialog's template text (platform/ui/dialogs.h), kept as it is; its first statement
# must name the id it is stored under ("105 DIALOGEX ...").
#
# Run with -P, the same file generates the C++ source: -DMANIFEST=... -DOUTPUT=... -DSYMBOL=...

function(_vkr_resource_lines manifest out_items)
  file(STRINGS ${manifest} lines)
  set(items "")
  set(n 0)
  set(seen_strings FALSE)
  foreach(line IN LISTS lines)
    math(EXPR n "${n} + 1")
    string(STRIP "${line}" line)
    if(line STREQUAL "" OR line MATCHES "^#")
      continue()
    endif()
    if(NOT line MATCHES "^([A-Za-z_][A-Za-z_0-9]*|[0-9]+)[ \t]+([0-9]+|-)[ \t]+(.+)$")
      message(FATAL_ERROR "${manifest}:${n}: expected \"TYPE ID FILE\"")
    endif()
    set(type ${CMAKE_MATCH_1})
    set(id ${CMAKE_MATCH_2})
    set(file ${CMAKE_MATCH_3})
    if(type STREQUAL "STRINGTABLE")
      if(NOT id STREQUAL "-")
        message(FATAL_ERROR "${manifest}:${n}: a STRINGTABLE line takes '-' for the id")
      endif()
      # A module has one string table; a second line would silently replace the first.
      if(seen_strings)
        message(FATAL_ERROR "${manifest}:${n}: a second STRINGTABLE line (a module has one string table: add the strings to the first)")
      endif()
      set(seen_strings TRUE)
    elseif(id STREQUAL "-" OR id GREATER 65535)
      message(FATAL_ERROR "${manifest}:${n}: the id must be a number from 0 to 65535")
    endif()
    list(APPEND items "${type}|${id}|${file}")
  endforeach()
  set(${out_items} "${items}" PARENT_SCOPE)
endfunction()

# A dialog text must declare the id it is stored under; the full check is the parser's, when a
# dialog is made from it (and the tests that make each one).
function(_vkr_check_dialog path id)
  file(STRINGS ${path} lines)
  foreach(line IN LISTS lines)
    string(STRIP "${line}" line)
    if(line STREQUAL "" OR line MATCHES "^//")
      continue()
    endif()
    if(NOT line MATCHES "^([0-9]+)[ \t]+DIALOGEX([ \t]|$)")
      message(FATAL_ERROR "${path}: a dialog text starts with \"${id} DIALOGEX x, y, width, height\"")
    endif()
    if(NOT CMAKE_MATCH_1 EQUAL id)
      message(FATAL_ERROR "${path}: the text declares dialog ${CMAKE_MATCH_1} but is stored as ${id}")
    endif()
    return()
  endforeach()
  message(FATAL_ERROR "${path}: the dialog text is empty")
endfunction()

if(CMAKE_SCRIPT_MODE_FILE)
  get_filename_component(dir ${MANIFEST} DIRECTORY)
  _vkr_resource_lines(${MANIFEST} items)
  set(arrays "")
  set(entries "")
  set(strings "nullptr, 0")
  set(count 0)
  set(k 0)
  foreach(item IN LISTS items)
    string(REPLACE "|" ";" parts "${item}")
    list(GET parts 0 type)
    list(GET parts 1 id)
    list(GET parts 2 file)
    if(type STREQUAL "DIALOG")
      _vkr_check_dialog(${dir}/${file} ${id})
    endif()
    file(READ ${dir}/${file} hex HEX)
    string(LENGTH "${hex}" len)
    math(EXPR size "${len} / 2")
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    # A trailing zero lets text resources be read as C strings; it is not counted in the size.
    string(APPEND arrays "alignas(8) const unsigned char kData${k}[] = {${bytes}0};\n")
    if(type STREQUAL "STRINGTABLE")
      set(strings "reinterpret_cast<const char*>(kData${k}), ${size}")
    else()
      if(type STREQUAL "HTML")
        set(typeId 23)
      elseif(type STREQUAL "BITMAP")
        set(typeId 2)
      elseif(type STREQUAL "ICON")
        set(typeId 3)
      elseif(type STREQUAL "DIALOG")
        set(typeId 5)
      elseif(type STREQUAL "RCDATA")
        set(typeId 10)
      elseif(type MATCHES "^[0-9]+$")
        set(typeId ${type})
      else()
        set(typeId "")
      endif()
      if(typeId STREQUAL "")
        string(APPEND entries "  {0, \"${type}\", ${id}, kData${k}, ${size}},\n")
      else()
        string(APPEND entries "  {${typeId}, nullptr, ${id}, kData${k}, ${size}},\n")
      endif()
      math(EXPR count "${count} + 1")
    endif()
    math(EXPR k "${k} + 1")
  endforeach()
  file(WRITE ${OUTPUT}.new
"// Generated from ${MANIFEST} by VkrResources.cmake; do not edit.
#include \"platform/win/resources.h\"

namespace {
${arrays}
const vkr::platform::ResourceItem kItems[] = {
${entries}  {0, nullptr, 0, nullptr, 0},
};

const vkr::platform::ResourceTable kTable{kItems, ${count}, ${strings}};

struct Registration {
  Registration() { vkr::platform::RegisterModuleResources(&kTable, kTable); }
  ~Registration() { vkr::platform::UnregisterModuleResources(&kTable); }
} registration;
}  // namespace
")
  file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
  file(REMOVE ${OUTPUT}.new)
  return()
endif()

set(VKR_RESOURCES_SCRIPT ${CMAKE_CURRENT_LIST_FILE} CACHE INTERNAL "The resource compiler script")

function(vkr_add_resources target manifest)
  get_filename_component(manifest ${manifest} ABSOLUTE)
  get_filename_component(dir ${manifest} DIRECTORY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${manifest})
  _vkr_resource_lines(${manifest} items)
  set(deps ${manifest} ${VKR_RESOURCES_SCRIPT})
  foreach(item IN LISTS items)
    string(REPLACE "|" ";" parts "${item}")
    list(GET parts 2 file)
    if(NOT EXISTS ${dir}/${file})
      message(FATAL_ERROR "${manifest}: ${file} does not exist")
    endif()
    list(APPEND deps ${dir}/${file})
  endforeach()
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources.cpp)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -DMANIFEST=${manifest} -DOUTPUT=${out} -P ${VKR_RESOURCES_SCRIPT}
    DEPENDS ${deps}
    COMMENT "Compiling the resources of ${target}"
    VERBATIM)
  target_sources(${target} PRIVATE ${out})
endfunction()
