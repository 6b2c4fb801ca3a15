# SPDX-License-Identifier: MIT
# Merges static archives into one: cmake -DOUT=lib.a -DARCHIVES=a.a;b.a -DAR=ar -P bundle-archive.cmake
set(script "CREATE ${OUT}\n")
foreach(a ${ARCHIVES})
  string(APPEND script "ADDLIB ${a}\n")
endforeach()
string(APPEND script "SAVE\nEND\n")
file(REMOVE "${OUT}")
file(WRITE "${OUT}.mri" "${script}")
execute_process(COMMAND ${AR} -M INPUT_FILE "${OUT}.mri" RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "merging archives into ${OUT} failed: ${err}")
endif()
