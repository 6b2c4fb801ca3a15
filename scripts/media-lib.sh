# SPDX-License-Identifier: MIT
# Shell functions for making carriers from speech; sourced by the media and benchmark scripts.

# pad IN OUT: pads a mono WAV so that LAME writes whole blocks and the speech starts a block.
# 4,655 leading zero samples put the first speech sample on the first sample of block 1 (LAME's
# 576 + the decoder's 529 samples of delay make 1,105, and block 0 is the priming block); a total
# of 576 x (10k - 2) samples gives exactly 10k frames. Works at the file's own rate.
pad() {
  local n total k
  n=$(soxi -s "$1")
  total=$((n + 4655))
  k=$(( (total / 576 + 2 + 9) / 10 ))
  while [ $((576 * (10 * k - 2))) -lt "$total" ]; do k=$((k + 1)); done
  sox "$1" "$2" pad 4655s $((576 * (10 * k - 2) - total))s
}
