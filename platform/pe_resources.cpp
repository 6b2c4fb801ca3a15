// SPDX-License-Identifier: MIT
// PE resource directory and dialog template reader.
//
// Every read goes through a Reader, which holds a window of the image and a position inside it
// and fails (sticky) instead of reading past the window's end; lookups report failure once they
// are done, so the parsing code reads straight through without a check after each field.
#include "platform/pe_resources.h"

#include <string.h>

namespace {

struct Reader {
  const uint8_t* data;
  size_t size;
  size_t pos;  // never past size
  int ok;
};

Reader reader_at(const uint8_t* data, size_t size, size_t pos) {
  Reader r = {data, size, pos, pos <= size};
  if (!r.ok) r.pos = size;
  return r;
}

// Returns the bytes at the position and moves past them, or NULL (and fails) when fewer remain.
const uint8_t* reader_take(Reader* r, size_t n) {
  if (!r->ok || r->size - r->pos < n) {
    r->ok = 0;
    return NULL;
  }
  const uint8_t* p = r->data + r->pos;
  r->pos += n;
  return p;
}

uint16_t reader_u16(Reader* r) {
  const uint8_t* p = reader_take(r, 2);
  return p ? (uint16_t)(p[0] | p[1] << 8) : 0;
}

uint32_t reader_u32(Reader* r) {
  const uint8_t* p = reader_take(r, 4);
  return p ? (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24 : 0;
}

void reader_skip(Reader* r, size_t n) { reader_take(r, n); }

// Dialog items start on a 4-byte boundary counted from the template's start.
void reader_align4(Reader* r) { reader_skip(r, (4 - (r->pos & 3)) & 3); }

// --- PE image ---

enum {
  PE_RESOURCE_DIRECTORY = 2,  // index in the optional header's data directories
  PE_SECTION_BYTES = 40,
  PE_SUBDIRECTORY = 0x80000000u,  // high bit of a resource directory entry's offset or name
};

struct PeImage {
  const uint8_t* data;
  size_t size;
  size_t sections;  // file offset of the section table
  uint16_t section_count;
};

int pe_open(const uint8_t* image, size_t image_size, PeImage* pe, uint32_t* rsrc_rva,
            uint32_t* rsrc_size) {
  Reader r = reader_at(image, image_size, 0);
  if (reader_u16(&r) != 0x5A4D) return 0;  // "MZ"
  r = reader_at(image, image_size, 0x3C);
  r = reader_at(image, image_size, reader_u32(&r));
  if (reader_u32(&r) != 0x00004550) return 0;  // "PE\0\0"
  reader_skip(&r, 2);
  uint16_t section_count = reader_u16(&r);
  reader_skip(&r, 12);
  uint16_t optional_size = reader_u16(&r);
  reader_skip(&r, 2);
  if (!r.ok) return 0;
  size_t optional = r.pos;
  // PE32 and PE32+ differ here only in where the data directories begin.
  uint16_t magic = reader_u16(&r);
  size_t counts_at = magic == 0x10B ? 92 : magic == 0x20B ? 108 : 0;
  if (!counts_at) return 0;
  r = reader_at(image, image_size, optional + counts_at);
  uint32_t directory_count = reader_u32(&r);
  if (directory_count <= PE_RESOURCE_DIRECTORY ||
      counts_at + 4 + 8 * (PE_RESOURCE_DIRECTORY + 1) > optional_size)
    return 0;
  reader_skip(&r, 8 * PE_RESOURCE_DIRECTORY);
  *rsrc_rva = reader_u32(&r);
  *rsrc_size = reader_u32(&r);
  pe->data = image;
  pe->size = image_size;
  pe->sections = optional + optional_size;
  pe->section_count = section_count;
  return r.ok && *rsrc_size != 0;
}

// Maps an RVA to a file offset through the section table. Returns the number of the section's
// bytes from there that the file holds (0 when none), so no size field is trusted beyond the file.
size_t pe_rva_bytes(const PeImage* pe, uint32_t rva, size_t* offset) {
  Reader r = reader_at(pe->data, pe->size, pe->sections);
  for (uint16_t i = 0; i < pe->section_count; i++) {
    reader_skip(&r, 8);
    uint32_t virtual_size = reader_u32(&r);
    uint32_t address = reader_u32(&r);
    uint32_t raw_size = reader_u32(&r);
    uint32_t raw_pointer = reader_u32(&r);
    reader_skip(&r, PE_SECTION_BYTES - 24);
    if (!r.ok) return 0;
    // Bytes past the virtual size are not part of the loaded section.
    uint32_t extent = virtual_size && virtual_size < raw_size ? virtual_size : raw_size;
    if (rva < address || rva - address >= extent) continue;
    uint64_t start = (uint64_t)raw_pointer + (rva - address);
    if (start >= pe->size) return 0;
    uint64_t in_section = extent - (rva - address);
    uint64_t in_file = pe->size - start;
    *offset = (size_t)start;
    return (size_t)(in_section < in_file ? in_section : in_file);
  }
  return 0;
}

// Finds the entry of a resource directory with the given numeric id (any id when want_any),
// skipping named entries. Returns its offset field and id, or 0 when there is none.
int rsrc_entry_find(const uint8_t* rsrc, size_t rsrc_size, uint32_t directory, uint16_t id,
                    int want_any, uint32_t* entry_offset, uint16_t* entry_id) {
  Reader r = reader_at(rsrc, rsrc_size, directory);
  reader_skip(&r, 12);
  uint32_t count = (uint32_t)reader_u16(&r) + reader_u16(&r);
  for (uint32_t i = 0; i < count && r.ok; i++) {
    uint32_t name = reader_u32(&r);
    uint32_t offset = reader_u32(&r);
    if (!r.ok || name > 0xFFFF) continue;  // a named entry: its high bit is set
    if (want_any || name == id) {
      *entry_offset = offset;
      *entry_id = (uint16_t)name;
      return 1;
    }
  }
  return 0;
}

}  // namespace

int pe_resource_find(const uint8_t* image, size_t image_size, uint16_t type, uint16_t id,
                     uint16_t language, PeResource* out) {
  PeImage pe;
  uint32_t rsrc_rva, rsrc_size;
  if (!image || !pe_open(image, image_size, &pe, &rsrc_rva, &rsrc_size)) return 0;
  size_t rsrc_offset;
  size_t rsrc_bytes = pe_rva_bytes(&pe, rsrc_rva, &rsrc_offset);
  if (rsrc_bytes > rsrc_size) rsrc_bytes = rsrc_size;
  if (!rsrc_bytes) return 0;
  const uint8_t* rsrc = image + rsrc_offset;

  // Three levels: type, then name, then language; the first two lead to subdirectories, the
  // last to a data entry.
  uint32_t offset = 0;
  uint16_t found_id;
  if (!rsrc_entry_find(rsrc, rsrc_bytes, offset, type, 0, &offset, &found_id) ||
      !(offset & PE_SUBDIRECTORY))
    return 0;
  if (!rsrc_entry_find(rsrc, rsrc_bytes, offset & ~PE_SUBDIRECTORY, id, 0, &offset, &found_id) ||
      !(offset & PE_SUBDIRECTORY))
    return 0;
  uint16_t found_language;
  if (!rsrc_entry_find(rsrc, rsrc_bytes, offset & ~PE_SUBDIRECTORY, language, language == 0,
                       &offset, &found_language) ||
      (offset & PE_SUBDIRECTORY))
    return 0;

  Reader r = reader_at(rsrc, rsrc_bytes, offset);
  uint32_t data_rva = reader_u32(&r);
  uint32_t data_size = reader_u32(&r);
  if (!r.ok) return 0;
  // The data must lie in a section the file holds, even when it is of no bytes at all.
  size_t data_offset = 0;
  const size_t mapped = pe_rva_bytes(&pe, data_rva, &data_offset);
  if (mapped == 0 || mapped < data_size) return 0;
  out->data = image + data_offset;
  out->size = data_size;
  out->language = found_language;
  return 1;
}

// --- Dialog templates ---

namespace {

enum {
  DS_SETFONT_BIT = 0x40,
  DIALOGEX_SIGNATURE = 0xFFFF,
  ORDINAL_MARK = 0xFFFF,
};

struct ClassAtom {
  uint16_t atom;
  const char* name;
};

const ClassAtom CLASS_ATOMS[] = {
    {0x0080, "Button"}, {0x0081, "Edit"},      {0x0082, "Static"},
    {0x0083, "ListBox"}, {0x0084, "ScrollBar"}, {0x0085, "ComboBox"},
};

// Reads a NUL-terminated UTF-16 string into text (ASCII, '?' for the rest, cut to fit);
// fails when the string runs off the end of the template.
void template_string(Reader* r, char* text) {
  size_t n = 0;
  for (;;) {
    uint16_t c = reader_u16(r);
    if (!r->ok || c == 0) break;
    if (n + 1 < DIALOG_TEXT_CHARS) text[n++] = c < 0x80 ? (char)c : '?';
  }
  text[n] = 0;
}

// A name or an ordinal: empty (0x0000), an ordinal (0xFFFF, then the number) or a string.
// Returns the ordinal, or 0 for a string or empty field.
uint16_t template_name_or_ordinal(Reader* r, char* text) {
  text[0] = 0;
  Reader peek = *r;
  uint16_t first = reader_u16(&peek);
  if (first == ORDINAL_MARK) {
    reader_skip(r, 2);
    return reader_u16(r);
  }
  template_string(r, text);
  return 0;
}

void template_control(Reader* r, int extended, DialogControl* c) {
  reader_align4(r);
  if (extended) {
    reader_skip(r, 4);  // help id
    c->ex_style = reader_u32(r);
    c->style = reader_u32(r);
  } else {
    c->style = reader_u32(r);
    c->ex_style = reader_u32(r);
  }
  c->x = (int16_t)reader_u16(r);
  c->y = (int16_t)reader_u16(r);
  c->cx = (int16_t)reader_u16(r);
  c->cy = (int16_t)reader_u16(r);
  c->id = extended ? (int32_t)reader_u32(r) : (int16_t)reader_u16(r);
  c->class_atom = template_name_or_ordinal(r, c->class_name);
  if (c->class_atom) {
    for (const ClassAtom& known : CLASS_ATOMS)
      if (known.atom == c->class_atom) strcpy(c->class_name, known.name);
  }
  template_name_or_ordinal(r, c->text);  // an ordinal (an image's number) leaves no text
  reader_skip(r, reader_u16(r));  // creation data
}

}  // namespace

int dialog_template_parse(const uint8_t* data, uint32_t size, DialogTemplate* out) {
  memset(out, 0, sizeof *out);
  if (!data) return 0;
  Reader r = reader_at(data, size, 0);
  // A DIALOGEX opens with version 1 and the 0xFFFF signature where a DIALOG has its style.
  Reader peek = r;
  uint16_t version = reader_u16(&peek);
  out->extended = version == 1 && reader_u16(&peek) == DIALOGEX_SIGNATURE;
  if (out->extended) {
    reader_skip(&r, 8);  // version, signature, help id
    out->ex_style = reader_u32(&r);
    out->style = reader_u32(&r);
  } else {
    out->style = reader_u32(&r);
    out->ex_style = reader_u32(&r);
  }
  int count = reader_u16(&r);
  out->x = (int16_t)reader_u16(&r);
  out->y = (int16_t)reader_u16(&r);
  out->cx = (int16_t)reader_u16(&r);
  out->cy = (int16_t)reader_u16(&r);
  if (!r.ok || count > DIALOG_MAX_CONTROLS) return 0;

  char skipped[DIALOG_TEXT_CHARS];
  template_name_or_ordinal(&r, skipped);  // menu
  template_name_or_ordinal(&r, skipped);  // window class
  template_string(&r, out->caption);
  if (out->style & DS_SETFONT_BIT) {
    out->point_size = reader_u16(&r);
    if (out->extended) reader_skip(&r, 4);  // weight, italic, character set
    template_string(&r, out->font);
  }
  for (int i = 0; i < count && r.ok; i++) template_control(&r, out->extended, &out->controls[i]);
  if (!r.ok) return 0;
  out->control_count = count;
  return 1;
}
