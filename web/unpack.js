// SPDX-License-Identifier: MIT
// The first script of a web message. To be small, the player page holds its other scripts and
// its licence notices deflated, in one block (quira-packed, made by build-page.py): JSON of
// {script, elements: {id: text}}. This inflates it, gives each element named its text (the
// worker's and the worklet's scripts, the notices) and runs the page's script from a blob, which
// the page's policy allows as it allows the workers' blobs. Nothing of the message is run.
import {inflated} from "./inflate.js";

async function unpack() {
  const packed = JSON.parse(new TextDecoder().decode(await inflated(document.getElementById("quira-packed").textContent)));
  for (const [id, text] of Object.entries(packed.elements)) document.getElementById(id).textContent = text;
  const script = document.createElement("script");
  script.src = URL.createObjectURL(new Blob([packed.script], {type: "text/javascript"}));
  document.body.append(script);
}

unpack();
