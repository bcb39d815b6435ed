# Program resources ("RES:" names, built-in profiles, cursors) compiled into a table.
#
# zm_embed_resources(<target> [TYPE <type> NAME <name> FILE <file>]...)
# Names are stored upper-cased: resource names ignore letter case.
set(ZM_EMBED_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/EmbedResources.cmake")

function(zm_embed_resources target)
  set(args ${ARGN})
  set(spec "")
  set(files "")
  list(LENGTH args n)
  set(i 0)
  while(i LESS n)
    list(GET args ${i} kw1)
    math(EXPR i1 "${i}+1")
    math(EXPR i3 "${i}+3")
    math(EXPR i5 "${i}+5")
    list(GET args ${i1} type)
    list(GET args ${i3} name)
    list(GET args ${i5} file)
    get_filename_component(file "${file}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    string(TOUPPER "${name}" name)
    string(APPEND spec "${type}|${name}|${file};")
    list(APPEND files "${file}")
    math(EXPR i "${i}+6")
  endwhile()
  set(out "${CMAKE_CURRENT_BINARY_DIR}/${target}_resources.cpp")
  set(specfile "${CMAKE_CURRENT_BINARY_DIR}/${target}_resources.txt")
  file(WRITE "${specfile}.in" "${spec}")
  configure_file("${specfile}.in" "${specfile}" COPYONLY)
  add_custom_command(OUTPUT "${out}"
    COMMAND ${CMAKE_COMMAND} -DSPEC=${specfile} -DOUT=${out} -P "${ZM_EMBED_SCRIPT}"
    DEPENDS ${files} "${specfile}" "${ZM_EMBED_SCRIPT}"
    COMMENT "Embedding resources of ${target}" VERBATIM)
  target_sources(${target} PRIVATE "${out}")
endfunction()
