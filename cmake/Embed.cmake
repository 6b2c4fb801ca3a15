# SPDX-License-Identifier: MIT
# quira_embed(TARGET SYMBOL FILE [DEPENDS targets...]): a static library that holds FILE's bytes
# between the symbols SYMBOL_begin and SYMBOL_end (declare them `extern const uint8_t SYMBOL_begin[]`
# in C++ with C linkage). The bytes are pulled in by the assembler's .incbin, so a rebuilt FILE is
# embedded again without any generated source growing with the file.
enable_language(ASM)

function(quira_embed target symbol file)
  cmake_parse_arguments(E "" "" "DEPENDS" ${ARGN})
  set(asm "${CMAKE_CURRENT_BINARY_DIR}/${target}.S")
  if(EMSCRIPTEN)
    # WebAssembly's object format wants a data section of its own and a size for every symbol.
    set(section "    .section .rodata.${symbol},\"\",@\n    .p2align 4\n")
    set(begin_size "    .size ${symbol}_begin, . - ${symbol}_begin\n")
    set(end_size "    .size ${symbol}_end, 0\n")
    set(tail "")
  else()
    set(section "    .section .rodata\n    .balign 16\n")
    set(begin_size "")
    set(end_size "")
    set(tail "    .section .note.GNU-stack,\"\",@progbits\n")
  endif()
  file(WRITE "${asm}.in"
    "${section}"
    "    .globl ${symbol}_begin\n"
    "    .globl ${symbol}_end\n"
    "    .hidden ${symbol}_begin\n"
    "    .hidden ${symbol}_end\n"
    "${symbol}_begin:\n"
    "    .incbin \"${file}\"\n"
    "${begin_size}"
    "${symbol}_end:\n"
    "${end_size}"
    "${tail}")
  configure_file("${asm}.in" "${asm}" COPYONLY)
  set_source_files_properties("${asm}" PROPERTIES LANGUAGE ASM OBJECT_DEPENDS "${file}")
  add_library(${target} STATIC "${asm}")
  # Archived by the C rule, which makes the archive anew: the assembler's rule only adds to it,
  # and would keep an object a former build put there (under emscripten, the first one found
  # defines the symbols).
  set_target_properties(${target} PROPERTIES LINKER_LANGUAGE C)
  if(E_DEPENDS)
    add_dependencies(${target} ${E_DEPENDS})
  endif()
endfunction()
