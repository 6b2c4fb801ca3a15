// SPDX-License-Identifier: MIT
// Bytes a page holds deflated (the zlib format) as base64 text, inflated by the browser.
export async function inflated(base64) {
  const binary = atob(base64.trim());
  const bytes = new Uint8Array(binary.length);
  for (let i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
  return new Response(new Blob([bytes]).stream().pipeThrough(new DecompressionStream("deflate"))).arrayBuffer();
}
