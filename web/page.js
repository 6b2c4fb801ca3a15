// SPDX-License-Identifier: MIT
// The page's script: the player (open a message, hear it, save it) and the new-message view.
// Each view sets itself up when imported; a page with only the player imports player-view.js.
import "./player-view.js";
import "./maker-view.js";
