// SPDX-License-Identifier: MIT
// Resource numbers of the player executable, shared by the resource script, the player code and
// the tests that read the built executable back.
#pragma once

#define IDI_PLAYER 102   // icon group: the file's icon in the shell
#define IDD_PLAYER 103   // the player dialog
#define IDB_PLAY 117     // play image, shown while stopped
#define IDB_STOP 119     // stop image
#define IDB_PLAYING 121  // play image shown while playing

#define IDC_STOP 1020
#define IDC_PLAY 1019
#define IDC_DEFAULT 1025  // hidden default push button; its command does nothing
#define IDC_LABEL (-1)    // the static label, where the keyboard focus is parked

#define PLAYER_LANGUAGE 0x0412  // every resource is Korean
