# Embeds the IMAGE entries of a resource script into a POSIX program, so the
# program's resource calls see exactly what windres would put into the
# Windows one.
#
# ecuprog_embed_resources(<target> RC <script> DEFINE <NAME>=<path> ...)
# creates a static library <target> holding the generated resource table.
# A DEFINE gives the path that a macro name used as a file in the script
# stands for; quoted files are read relative to the script's folder.
# GENERATED: the defined files are made by the build (custom commands in
# the calling folder), so they need not exist yet.
function(ecuprog_embed_resources target)
  cmake_parse_arguments(ARG "GENERATED" "RC" "DEFINE" ${ARGN})
  get_filename_component(rc_dir "${ARG_RC}" DIRECTORY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${ARG_RC}")

  foreach(define IN LISTS ARG_DEFINE)
    string(REGEX MATCH "^([A-Za-z_][A-Za-z0-9_]*)=(.*)$" _ "${define}")
    set(macro_${CMAKE_MATCH_1} "${CMAKE_MATCH_2}")
  endforeach()

  file(STRINGS "${ARG_RC}" lines)
  set(asm "")
  set(entries "")
  set(files "")
  set(index 0)
  foreach(line IN LISTS lines)
    string(STRIP "${line}" line)
    if(line STREQUAL "" OR line MATCHES "^//" OR line MATCHES "^#")
      continue()
    endif()
    if(NOT line MATCHES "^([A-Za-z0-9_]+)[ \t]+([A-Za-z0-9_]+)[ \t]+(.+)$")
      message(FATAL_ERROR "${ARG_RC}: cannot read resource line: ${line}")
    endif()
    set(name "${CMAKE_MATCH_1}")
    set(type "${CMAKE_MATCH_2}")
    set(file "${CMAKE_MATCH_3}")
    if(NOT type STREQUAL "IMAGE")
      continue()  # the manifest means nothing outside Windows
    endif()
    if(file MATCHES "^\"(.*)\"$")
      set(file "${rc_dir}/${CMAKE_MATCH_1}")
    elseif(DEFINED macro_${file})
      set(file "${macro_${file}}")
    else()
      message(FATAL_ERROR "${ARG_RC}: no file given for ${file}")
    endif()
    if(NOT EXISTS "${file}" AND NOT ARG_GENERATED)
      message(FATAL_ERROR "${ARG_RC}: resource ${name} names a missing file: ${file}")
    endif()
    if(name MATCHES "^[0-9]+$")
      set(id "${name}")
      set(text_name "nullptr")
    else()
      set(id "0")
      set(text_name "\"${name}\"")
    endif()
    set(symbol "ecuprog_resource_${index}")
    string(APPEND asm
      "    \".global ${symbol}\\n.hidden ${symbol}\\n.balign 16\\n${symbol}:\\n\"\n"
      "    \".incbin \\\"${file}\\\"\\n\"\n"
      "    \".global ${symbol}_end\\n.hidden ${symbol}_end\\n${symbol}_end:\\n\"\n")
    string(APPEND decls
      "extern \"C\" const BYTE ${symbol}[];\nextern \"C\" const BYTE ${symbol}_end[];\n")
    string(APPEND entries
      "    {\"${type}\", ${id}, ${text_name}, ${symbol}, static_cast<DWORD>(${symbol}_end - ${symbol}), false},\n")
    list(APPEND files "${file}")
    math(EXPR index "${index} + 1")
  endforeach()

  set(out "${CMAKE_CURRENT_BINARY_DIR}/${target}.cpp")
  file(CONFIGURE OUTPUT "${out}" @ONLY CONTENT
"// Generated from @ARG_RC@ by the build. Do not edit.
#include \"platform/posix/resource_table.h\"

asm(\".section .rodata\\n\"
@asm@    \".previous\\n\");

@decls@
namespace {
const EmbeddedResource kTable[] = {
@entries@};
}  // namespace

const EmbeddedResource* const kEmbeddedResources = kTable;
const size_t kEmbeddedResourceCount = sizeof(kTable) / sizeof(kTable[0]);
")
  add_library(${target} STATIC "${out}")
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
  set_source_files_properties("${out}" PROPERTIES OBJECT_DEPENDS "${files}")
endfunction()
