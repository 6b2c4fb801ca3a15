# quira_embed(TARGET SYMBOL FILE [DEPENDS targets...]): a static library that holds FILE's bytes
# between the symbols SYMBOL_begin and SYMBOL_end (declare them `extern const uint8_t SYMBOL_begin[]`
# in C++ with C linkage). The bytes are pulled in by the assembler's .incbin, so a rebuilt FILE is
# embedded again without any generated source growing with the file.
enable_language(ASM)

function(quira_embed target symbol file)
  cmake_parse_arguments(E "" "" "DEPENDS" ${ARGN})
  set(asm "${CMAKE_CURRENT_BINARY_DIR}/${target}.S")
  file(WRITE "${asm}.in"
    "    .section .rodata\n"
    "    .balign 16\n"
    "    .globl ${symbol}_begin\n"
    "    .globl ${symbol}_end\n"
    "    .hidden ${symbol}_begin\n"
    "    .hidden ${symbol}_end\n"
    "${symbol}_begin:\n"
    "    .incbin \"${file}\"\n"
    "${symbol}_end:\n"
    "    .section .note.GNU-stack,\"\",@progbits\n")
  configure_file("${asm}.in" "${asm}" COPYONLY)
  set_source_files_properties("${asm}" PROPERTIES LANGUAGE ASM OBJECT_DEPENDS "${file}")
  add_library(${target} STATIC "${asm}")
  if(E_DEPENDS)
    add_dependencies(${target} ${E_DEPENDS})
  endif()
endfunction()
