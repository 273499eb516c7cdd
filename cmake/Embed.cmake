# tarnu_embed(<target> <name> FILES <file>...)
# Turns text files into a C++ source that defines one table of
# EmbeddedText records (see setup/embedded.h); each record is named by the
# file's base name ("de_DE.txt", "tprint.sh") and holds its bytes exactly.
function(tarnu_embed target table)
  cmake_parse_arguments(EMB "" "" "FILES" ${ARGN})
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${table}.cpp)
  add_custom_command(
    OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -DOUT=${out} -DTABLE=${table} "-DFILES=${EMB_FILES}"
            -P ${PROJECT_SOURCE_DIR}/cmake/EmbedScript.cmake
    DEPENDS ${EMB_FILES} ${PROJECT_SOURCE_DIR}/cmake/EmbedScript.cmake
    COMMENT "Embedding ${table}"
    VERBATIM)
  target_sources(${target} PRIVATE ${out})
endfunction()
