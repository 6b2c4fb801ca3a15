// SPDX-License-Identifier: MIT
// Resources of a Windows executable image held in memory: the resource directory of a PE file
// and the DIALOGEX / DIALOG templates stored in it. Used by the Linux stand-in to load the player's
// dialog and bitmaps from the very executable that Windows runs, and by the tool and the tests to
// check a built player.
//
// Invariants: every offset read from the image is checked against its size before use; a
// malformed image makes a lookup fail (return 0), never read outside the buffer.
#pragma once
#include <stddef.h>
#include <stdint.h>

enum {
  PE_RT_ICON = 3,
  PE_RT_BITMAP = 2,
  PE_RT_DIALOG = 5,
  PE_RT_GROUP_ICON = 14,
  DIALOG_MAX_CONTROLS = 16,
  DIALOG_TEXT_CHARS = 64
};

struct PeResource {
  const uint8_t* data;  // inside the image
  uint32_t size;
  uint16_t language;
};

// Finds the resource of the given type and numeric id; language 0 takes the first language
// stored. Returns 1 and fills out when found, else 0.
int pe_resource_find(const uint8_t* image, size_t image_size, uint16_t type, uint16_t id,
                     uint16_t language, PeResource* out);

struct DialogControl {
  uint32_t style;
  uint32_t ex_style;
  int16_t x, y, cx, cy;  // dialog units
  int32_t id;            // DIALOGEX ids are 32-bit; a plain DIALOG's 16-bit id is sign-extended
  uint16_t class_atom;   // 0x0080 button, 0x0082 static, ...; 0 when the class is named
  char class_name[DIALOG_TEXT_CHARS];  // "Button", "Static", ... also for atoms
  char text[DIALOG_TEXT_CHARS];        // ASCII; other characters read as '?'
};

struct DialogTemplate {
  int extended;  // 1 for DIALOGEX, 0 for DIALOG
  uint32_t style;
  uint32_t ex_style;
  int16_t x, y, cx, cy;
  char caption[DIALOG_TEXT_CHARS];
  uint16_t point_size;  // with DS_SETFONT
  char font[DIALOG_TEXT_CHARS];
  int control_count;
  DialogControl controls[DIALOG_MAX_CONTROLS];
};

// Parses a dialog template resource. Returns 1 on success, 0 when it is malformed or holds more
// than DIALOG_MAX_CONTROLS controls.
int dialog_template_parse(const uint8_t* data, uint32_t size, DialogTemplate* out);
