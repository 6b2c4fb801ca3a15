// SPDX-License-Identifier: MIT
// The longest recording the page makes a message of, which the view and the maker's worker both
// enforce: both makers hold the whole message's frames in the page's memory.
export const MAX_SECONDS = 12 * 3600;
