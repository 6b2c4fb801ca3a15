// SPDX-License-Identifier: MIT
// The player's resources read back from a linked Windows executable, and the resource reader on
// damaged images and hand-made templates.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/pe_resources.h"
#include "res/resource.h"

#ifdef QUIRA_PLAYER_EXE
const char* const EXE_PATH = QUIRA_PLAYER_EXE;
#else
const char* const EXE_PATH = QUIRA_RESOURCE_EXE;
#endif

namespace {

typedef std::vector<uint8_t> Bytes;

Bytes file_read(const char* path) {
  Bytes bytes;
  FILE* f = fopen(path, "rb");
  if (!f) return bytes;
  uint8_t chunk[65536];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
  fclose(f);
  return bytes;
}

const Bytes& player_exe() {
  static const Bytes bytes = file_read(EXE_PATH);
  return bytes;
}

struct Wanted {
  uint16_t type, id;
};
const Wanted PLAYER_RESOURCES[] = {
    {PE_RT_DIALOG, IDD_PLAYER}, {PE_RT_BITMAP, IDB_PLAY},       {PE_RT_BITMAP, IDB_STOP},
    {PE_RT_BITMAP, IDB_PLAYING}, {PE_RT_GROUP_ICON, IDI_PLAYER},
};

PeResource resource_of(const Bytes& image, uint16_t type, uint16_t id) {
  PeResource r = {};
  EXPECT_EQ(pe_resource_find(image.data(), image.size(), type, id, 0, &r), 1) << type << "/" << id;
  return r;
}

uint32_t u16_at(const uint8_t* p) { return p[0] | p[1] << 8; }
uint32_t u32_at(const uint8_t* p) { return u16_at(p) | u16_at(p + 2) << 16; }

// Colour of a pixel of a 4-bit bitmap resource as 0xRRGGBB, y counted from the top.
uint32_t bitmap_pixel(const PeResource& bmp, int x, int y) {
  int width = (int)u32_at(bmp.data + 4), height = (int)u32_at(bmp.data + 8);
  int stride = (width * 4 + 31) / 32 * 4;
  const uint8_t* row = bmp.data + 40 + 16 * 4 + stride * (height - 1 - y);
  int index = x % 2 ? row[x / 2] & 15 : row[x / 2] >> 4;
  const uint8_t* quad = bmp.data + 40 + 4 * index;  // blue, green, red
  return (uint32_t)quad[2] << 16 | quad[1] << 8 | quad[0];
}

enum : uint32_t {
  BLACK = 0x000000, DARK_GREY = 0x808080, LIGHT_GREY = 0xC0C0C0, WHITE = 0xFFFFFF, BLUE = 0x0000FF
};

struct Box {
  int left = 20, top = 20, right = -1, bottom = -1, count = 0;
};

// Where the pixels of one colour (or, with other_than, of every other colour) lie.
Box bitmap_box(const PeResource& bmp, uint32_t colour, bool other_than) {
  Box b;
  for (int y = 0; y < 20; y++)
    for (int x = 0; x < 20; x++)
      if ((bitmap_pixel(bmp, x, y) == colour) != other_than) {
        b.left = std::min(b.left, x);
        b.right = std::max(b.right, x);
        b.top = std::min(b.top, y);
        b.bottom = std::max(b.bottom, y);
        b.count++;
      }
  return b;
}

Bytes with_u32(Bytes image, size_t at, uint32_t value) {
  for (int i = 0; i < 4; i++) image[at + i] = value >> (8 * i) & 0xFF;
  return image;
}

// Where an image keeps its resources, found from its headers independently of the reader:
// the data directories, the section header holding the resource directory, and that
// directory's RVA and file offset. section is 0 when there is none.
struct RsrcLayout {
  size_t data_directories = 0, section = 0, directory = 0;
  uint32_t rva = 0;
};

RsrcLayout rsrc_layout(const Bytes& exe) {
  RsrcLayout l;
  size_t pe = u32_at(exe.data() + 0x3C), optional = pe + 24;
  l.data_directories = optional + (u16_at(exe.data() + optional) == 0x20B ? 112 : 96);
  l.rva = u32_at(exe.data() + l.data_directories + 16);
  size_t sections = optional + u16_at(exe.data() + pe + 20);
  for (size_t s = sections; s < sections + 40 * u16_at(exe.data() + pe + 6); s += 40) {
    uint32_t address = u32_at(exe.data() + s + 12);
    if (l.rva >= address && l.rva - address < u32_at(exe.data() + s + 16)) {
      l.section = s;
      l.directory = u32_at(exe.data() + s + 20) + (l.rva - address);
    }
  }
  return l;
}

// Little-endian template writer for the hand-made dialogs.
struct Writer {
  Bytes b;
  void u16(uint32_t v) { b.push_back(v & 0xFF), b.push_back(v >> 8 & 0xFF); }
  void u32(uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); }
  void text(const char* s) {
    while (*s) u16((uint8_t)*s++);
    u16(0);
  }
  void align4() {
    while (b.size() % 4) b.push_back(0);
  }
};

// A plain DIALOG with DS_SETFONT and count controls: a label with id 0xFFFF first, then buttons
// named by a class string and carrying four bytes of creation data.
Bytes plain_dialog(int count) {
  Writer w;
  w.u32(0x80C808C0);
  w.u32(0x00000100);  // ex-style, stored after the style in a plain DIALOG
  w.u16(count);
  for (int v : {1, 2, 120, 26}) w.u16(v);
  w.u16(0);  // no menu
  w.u16(0);  // dialog class
  w.text("Plain");
  w.u16(9);
  w.text("Tahoma");
  for (int i = 0; i < count; i++) {
    w.align4();
    w.u32(i == 0 ? 0x50020000 : 0x50000080);
    w.u32(i == 0 ? 0 : 0x200);
    for (int v : {55, 8, -61, 8}) w.u16((uint16_t)v);
    if (i == 0) {
      w.u16(0xFFFF);
      w.u16(0xFFFF), w.u16(0x0082);
      w.text("Label\xE9");  // a character past ASCII
      w.u16(0);
    } else {
      w.u16(1000 + i);
      w.text("Button");
      w.u16(0xFFFF), w.u16(117);  // an image's ordinal, not text
      w.u16(4), w.u16(0xBEEF), w.u16(0xCAFE);
    }
  }
  return w.b;
}

}  // namespace

TEST(PlayerResources, EveryResourceIsKorean) {
  const Bytes& exe = player_exe();
  ASSERT_FALSE(exe.empty()) << EXE_PATH;
  for (const Wanted& want : PLAYER_RESOURCES) {
    PeResource r = resource_of(exe, want.type, want.id);
    EXPECT_EQ(r.language, PLAYER_LANGUAGE) << want.id;
    EXPECT_EQ(pe_resource_find(exe.data(), exe.size(), want.type, want.id, PLAYER_LANGUAGE, &r), 1);
    EXPECT_EQ(pe_resource_find(exe.data(), exe.size(), want.type, want.id, 0x0409, &r), 0);
  }
  PeResource r;
  EXPECT_EQ(pe_resource_find(exe.data(), exe.size(), PE_RT_BITMAP, 118, 0, &r), 0);
  EXPECT_EQ(pe_resource_find(exe.data(), exe.size(), PE_RT_DIALOG, IDB_PLAY, 0, &r), 0);
}

TEST(PlayerResources, PlayerDialogTemplate) {
  PeResource res = resource_of(player_exe(), PE_RT_DIALOG, IDD_PLAYER);
  DialogTemplate d;
  ASSERT_EQ(dialog_template_parse(res.data, res.size, &d), 1);
  EXPECT_EQ(d.extended, 1);
  EXPECT_EQ(d.style, 0x80C808C0u);
  EXPECT_EQ(d.ex_style, 0u);
  EXPECT_EQ(d.x, 0);
  EXPECT_EQ(d.y, 0);
  EXPECT_EQ(d.cx, 120);
  EXPECT_EQ(d.cy, 26);
  EXPECT_STREQ(d.caption, "Quira");
  EXPECT_STREQ(d.font, "MS Sans Serif");
  EXPECT_EQ(d.point_size, 8);
  // The fixed header (26 bytes), no menu, the standard class, "Quira", then the font's point
  // size, weight, italic flag and character set: don't-care weight, upright, default set.
  const uint8_t FONT_FIELDS[] = {0, 0, 0, 0, 'Q', 0, 'u', 0, 'i', 0, 'r', 0, 'a', 0, 0, 0,
                                 8, 0, 0, 0, 0, 1};
  ASSERT_GE(res.size, 26 + sizeof FONT_FIELDS);
  EXPECT_EQ(memcmp(res.data + 26, FONT_FIELDS, sizeof FONT_FIELDS), 0);

  struct Expected {
    uint16_t atom;
    const char* class_name;
    int32_t id;
    uint32_t style;
    int16_t x, y, cx, cy;
    const char* text;
  };
  const Expected CONTROLS[] = {
      {0x80, "Button", IDC_DEFAULT, 0x40000001, 4, 7, 15, 14, ""},
      {0x80, "Button", IDC_PLAY, 0x50000080, 6, 4, 20, 18, ""},
      {0x80, "Button", IDC_STOP, 0x50000080, 28, 4, 20, 18, ""},
      {0x82, "Static", IDC_LABEL, 0x50020000, 55, 8, 61, 8, "Quira"},
  };
  ASSERT_EQ(d.control_count, 4);
  for (int i = 0; i < 4; i++) {
    const DialogControl& c = d.controls[i];
    const Expected& e = CONTROLS[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(c.class_atom, e.atom);
    EXPECT_STREQ(c.class_name, e.class_name);
    EXPECT_EQ(c.id, e.id);
    EXPECT_EQ(c.style, e.style);
    EXPECT_EQ(c.ex_style, 0u);
    EXPECT_EQ(c.x, e.x);
    EXPECT_EQ(c.y, e.y);
    EXPECT_EQ(c.cx, e.cx);
    EXPECT_EQ(c.cy, e.cy);
    EXPECT_STREQ(c.text, e.text);
  }
}

TEST(PlayerResources, ButtonImages) {
  const Bytes& exe = player_exe();
  for (uint16_t id : {IDB_PLAY, IDB_STOP, IDB_PLAYING}) {
    SCOPED_TRACE(id);
    PeResource bmp = resource_of(exe, PE_RT_BITMAP, id);
    ASSERT_EQ(bmp.size, 344u);
    EXPECT_EQ(u32_at(bmp.data), 40u);
    EXPECT_EQ(u32_at(bmp.data + 4), 20u);
    EXPECT_EQ(u32_at(bmp.data + 8), 20u);  // bottom-up
    EXPECT_EQ(u16_at(bmp.data + 12), 1u);
    EXPECT_EQ(u16_at(bmp.data + 14), 4u);
    EXPECT_EQ(u32_at(bmp.data + 16), 0u);  // uncompressed
    uint32_t colours = u32_at(bmp.data + 32);
    EXPECT_TRUE(colours == 0 || colours == 16) << colours;
    // Light grey and dark grey must be exactly the 3-D colours the loader replaces.
    const uint32_t VGA[16] = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080,
                              0x008080, 0xC0C0C0, 0x808080, 0xFF0000, 0x00FF00, 0xFFFF00,
                              0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
    for (int i = 0; i < 16; i++) {
      const uint8_t* q = bmp.data + 40 + 4 * i;
      EXPECT_EQ((uint32_t)q[2] << 16 | q[1] << 8 | q[0], VGA[i]) << i;
    }
  }

  PeResource play = resource_of(exe, PE_RT_BITMAP, IDB_PLAY);
  EXPECT_EQ(bitmap_pixel(play, 0, 0), LIGHT_GREY);
  EXPECT_EQ(bitmap_pixel(play, 19, 19), LIGHT_GREY);
  EXPECT_EQ(bitmap_pixel(play, 9, 9), BLUE);
  EXPECT_EQ(bitmap_pixel(play, 9, 10), BLUE);
  EXPECT_EQ(bitmap_pixel(play, 7, 9), DARK_GREY);   // left edge
  EXPECT_EQ(bitmap_pixel(play, 10, 6), DARK_GREY);  // upper edge
  EXPECT_EQ(bitmap_pixel(play, 11, 12), WHITE);     // lower edge
  Box blue = bitmap_box(play, BLUE, false);
  // A right-pointing triangle: its widest column at the left, a point at the right.
  EXPECT_GT(blue.count, 20);
  int first = 0, last = 0;
  for (int y = 0; y < 20; y++) {
    first += bitmap_pixel(play, blue.left, y) == BLUE;
    last += bitmap_pixel(play, blue.right, y) == BLUE;
  }
  EXPECT_GE(first, 8);
  EXPECT_LE(last, 2);

  PeResource stop = resource_of(exe, PE_RT_BITMAP, IDB_STOP);
  Box black = bitmap_box(stop, BLACK, false);
  EXPECT_EQ(black.count, 81);
  EXPECT_EQ(black.right - black.left, 8);
  EXPECT_EQ(black.bottom - black.top, 8);
  for (int i = 0; i < 9; i++) {
    EXPECT_EQ(bitmap_pixel(stop, black.left + i, black.top - 1), DARK_GREY) << i;
    EXPECT_EQ(bitmap_pixel(stop, black.left - 1, black.top + i), DARK_GREY) << i;
    EXPECT_EQ(bitmap_pixel(stop, black.left + i, black.bottom + 1), WHITE) << i;
    EXPECT_EQ(bitmap_pixel(stop, black.right + 1, black.top + i), WHITE) << i;
  }
  EXPECT_EQ(bitmap_pixel(stop, 0, 0), LIGHT_GREY);

  PeResource playing = resource_of(exe, PE_RT_BITMAP, IDB_PLAYING);
  EXPECT_EQ(bitmap_pixel(playing, 0, 0), WHITE);
  EXPECT_EQ(bitmap_pixel(playing, 19, 19), WHITE);
  EXPECT_EQ(bitmap_pixel(playing, 9, 9), LIGHT_GREY);
  EXPECT_EQ(bitmap_pixel(playing, 7, 9), DARK_GREY);
  EXPECT_EQ(bitmap_pixel(playing, 10, 6), DARK_GREY);
  EXPECT_EQ(bitmap_pixel(playing, 11, 12), DARK_GREY);
  EXPECT_EQ(bitmap_box(playing, BLUE, false).count, 0);

  // Each image sits in the middle of its 20 x 20, within a pixel either way.
  for (const PeResource* image : {&play, &stop}) {
    Box drawn = bitmap_box(*image, LIGHT_GREY, true);
    EXPECT_LE(abs(drawn.left + drawn.right - 19), 2);
    EXPECT_LE(abs(drawn.top + drawn.bottom - 19), 2);
  }
  Box drawn = bitmap_box(playing, WHITE, true);
  EXPECT_LE(abs(drawn.left + drawn.right - 19), 2);
  EXPECT_LE(abs(drawn.top + drawn.bottom - 19), 2);
}

TEST(PlayerResources, IconGroupHoldsOne32By32SixteenColourIcon) {
  const Bytes& exe = player_exe();
  PeResource group = resource_of(exe, PE_RT_GROUP_ICON, IDI_PLAYER);
  ASSERT_EQ(group.size, 6u + 14u);
  EXPECT_EQ(u16_at(group.data), 0u);
  EXPECT_EQ(u16_at(group.data + 2), 1u);  // icons, not cursors
  EXPECT_EQ(u16_at(group.data + 4), 1u);
  const uint8_t* entry = group.data + 6;
  EXPECT_EQ(entry[0], 32);
  EXPECT_EQ(entry[1], 32);
  EXPECT_EQ(entry[2], 16);
  EXPECT_EQ(u16_at(entry + 4), 1u);
  EXPECT_EQ(u16_at(entry + 6), 4u);
  uint32_t bytes = u32_at(entry + 8);
  EXPECT_EQ(bytes, 40u + 64 + 512 + 128);  // header, palette, colour image, mask

  PeResource icon = resource_of(exe, PE_RT_ICON, (uint16_t)u16_at(entry + 12));
  EXPECT_EQ(icon.language, PLAYER_LANGUAGE);
  ASSERT_EQ(icon.size, bytes);
  EXPECT_EQ(u32_at(icon.data + 4), 32u);
  EXPECT_EQ(u32_at(icon.data + 8), 64u);  // colour image and mask
  EXPECT_EQ(u16_at(icon.data + 14), 4u);
  // Shaped, not a square: the mask leaves the corners transparent and the middle opaque.
  const uint8_t* mask = icon.data + 40 + 64 + 512;
  EXPECT_EQ(mask[0] & 0x80, 0x80);          // bottom left
  EXPECT_EQ(mask[31 * 4 + 3] & 0x01, 0x01);  // top right
  EXPECT_EQ(mask[16 * 4 + 2] & 0x80, 0);     // middle
}

TEST(PlayerResources, Pe32PlusImageHoldsTheSameResources) {
  Bytes exe32 = file_read(QUIRA_RESOURCE_EXE), exe64 = file_read(QUIRA_RESOURCE_EXE64);
  ASSERT_FALSE(exe64.empty());
  ASSERT_EQ(u16_at(exe64.data() + u32_at(exe64.data() + 0x3C) + 24), 0x20Bu);
  for (const Wanted& want : PLAYER_RESOURCES) {
    PeResource a = resource_of(exe32, want.type, want.id);
    PeResource b = resource_of(exe64, want.type, want.id);
    ASSERT_EQ(a.size, b.size) << want.id;
    EXPECT_EQ(memcmp(a.data, b.data, a.size), 0) << want.id;
    EXPECT_EQ(b.language, PLAYER_LANGUAGE);
  }
}

TEST(PlayerResources, ArtScriptRedrawsTheCommittedImages) {
  char dir[] = "/tmp/quira-art-XXXXXX";
  ASSERT_TRUE(mkdtemp(dir));
  std::string command = std::string(QUIRA_PYTHON3) + " " + QUIRA_SOURCE_DIR +
                        "/scripts/make-art.py " + dir;
  ASSERT_EQ(system(command.c_str()), 0);
  for (const char* name : {"play.bmp", "stop.bmp", "playing.bmp", "player.ico"}) {
    std::string made = std::string(dir) + "/" + name;
    std::string committed = std::string(QUIRA_SOURCE_DIR) + "/res/" + name;
    EXPECT_EQ(file_read(made.c_str()), file_read(committed.c_str())) << name;
    unlink(made.c_str());
  }
  rmdir(dir);
}

// Every prefix of the image is a separate allocation of exactly its length, so a read past the
// end is caught by the sanitizers; a resource is found only when all of it is in the prefix.
TEST(ResourceReader, TruncatedImages) {
  const Bytes& exe = player_exe();
  RsrcLayout layout = rsrc_layout(exe);
  ASSERT_NE(layout.section, 0u);
  size_t end = 0;
  for (const Wanted& want : PLAYER_RESOURCES) {
    PeResource r = resource_of(exe, want.type, want.id);
    end = std::max(end, (size_t)(r.data - exe.data()) + r.size);
  }
  // Cuts through the headers, and through the resource section up to past its last data.
  std::vector<size_t> lengths;
  for (size_t n = 0; n < 2048 && n < exe.size(); n++) lengths.push_back(n);
  for (size_t n = layout.directory; n <= end + 16 && n < exe.size(); n++) lengths.push_back(n);
  for (size_t n : lengths) {
    Bytes prefix(exe.begin(), exe.begin() + n);
    for (const Wanted& want : PLAYER_RESOURCES) {
      PeResource full = resource_of(exe, want.type, want.id), cut;
      size_t full_end = (size_t)(full.data - exe.data()) + full.size;
      int found = pe_resource_find(prefix.data(), n, want.type, want.id, 0, &cut);
      if (n < full_end) {
        ASSERT_EQ(found, 0) << n << " " << want.id;
      } else if (found) {
        ASSERT_EQ(cut.data - prefix.data(), full.data - exe.data());
        ASSERT_EQ(cut.size, full.size);
      }
    }
  }
}

TEST(ResourceReader, CorruptedOffsets) {
  const Bytes& exe = player_exe();
  RsrcLayout layout = rsrc_layout(exe);
  ASSERT_NE(layout.section, 0u);
  size_t directories = layout.data_directories, rsrc_section = layout.section;
  size_t rsrc = layout.directory;
  uint32_t rsrc_rva = layout.rva;
  uint32_t section_end =
      u32_at(exe.data() + rsrc_section + 12) + u32_at(exe.data() + rsrc_section + 16);  // an RVA
  // The data entry of the play image: found by its RVA, which only it holds.
  PeResource bmp = resource_of(exe, PE_RT_BITMAP, IDB_PLAY);
  uint32_t bmp_rva = rsrc_rva + (uint32_t)((size_t)(bmp.data - exe.data()) - rsrc);
  size_t bmp_entry = 0;
  for (size_t at = rsrc; at + 8 <= exe.size() && at < (size_t)(bmp.data - exe.data()); at += 4)
    if (u32_at(exe.data() + at) == bmp_rva && u32_at(exe.data() + at + 4) == bmp.size)
      bmp_entry = at;
  ASSERT_NE(bmp_entry, 0u);

  auto patched = [&](size_t at, uint32_t value) { return with_u32(exe, at, value); };
  struct Case {
    const char* what;
    Bytes image;
  };
  const Case CASES[] = {
      {"PE header past the end", patched(0x3C, (uint32_t)exe.size() - 8)},
      {"resource directory past the end", patched(directories + 16, 0x7FFFFF00)},
      {"resource directory smaller than its header", patched(directories + 20, 8)},
      {"resource directory at the last byte of its section",
       patched(directories + 16, section_end - 1)},
      {"section loaded only as far as the directory's header", patched(rsrc_section + 8, 16)},
      {"type entry pointing past the end", patched(rsrc + 16 + 4, 0xFFFFFFF0)},
      {"image data past the end", patched(bmp_entry, rsrc_rva + 0x10000000)},
      {"image size past the end", patched(bmp_entry + 4, 0xFFFFFFFF)},
      // Found by the fuzzer: a size of 0 passed the size check although no section held the data.
      {"image of no bytes where no section is", with_u32(patched(bmp_entry, rsrc_rva + 0x10000000), bmp_entry + 4, 0)},
      // A section claiming 4 GiB must not let a lookup reach past the file.
      {"huge section, data in its far part",
       with_u32(with_u32(patched(rsrc_section + 16, 0xFFFFFF00), rsrc_section + 8, 0xFFFFFF00),
                bmp_entry, rsrc_rva + 0x01000000)},
  };
  for (const Case& c : CASES) {
    PeResource r;
    EXPECT_EQ(pe_resource_find(c.image.data(), c.image.size(), PE_RT_BITMAP, IDB_PLAY, 0, &r), 0)
        << c.what;
  }

  // The bitmap type's entry turned into a named one (names come first): the lookup skips it.
  ASSERT_EQ(u32_at(exe.data() + rsrc + 16), (uint32_t)PE_RT_BITMAP);  // types are sorted
  Bytes named = patched(rsrc + 16, 0x80000000 | PE_RT_BITMAP);
  named[rsrc + 12] = 1;
  named[rsrc + 14]--;
  PeResource r;
  EXPECT_EQ(pe_resource_find(named.data(), named.size(), PE_RT_BITMAP, IDB_PLAY, 0, &r), 0);
  EXPECT_EQ(pe_resource_find(named.data(), named.size(), PE_RT_DIALOG, IDD_PLAYER, 0, &r), 1);
}

TEST(ResourceReader, DamagedDialogTemplates) {
  PeResource res = resource_of(player_exe(), PE_RT_DIALOG, IDD_PLAYER);
  DialogTemplate d;
  for (uint32_t n = 0; n < res.size; n++) {
    Bytes prefix(res.data, res.data + n);
    EXPECT_EQ(dialog_template_parse(prefix.data(), n, &d), 0) << n;
  }
  // A caption that runs to the end with no terminator.
  Bytes open_caption(res.data, res.data + 30);
  for (int i = 0; i < 40; i++) open_caption.push_back('A'), open_caption.push_back(0);
  EXPECT_EQ(dialog_template_parse(open_caption.data(), open_caption.size(), &d), 0);
  // The control count of the fixed header raised past what the record holds.
  Bytes many(res.data, res.data + res.size);
  many[16] = DIALOG_MAX_CONTROLS + 1;
  EXPECT_EQ(dialog_template_parse(many.data(), many.size(), &d), 0);

  Bytes full = plain_dialog(DIALOG_MAX_CONTROLS), over = plain_dialog(DIALOG_MAX_CONTROLS + 1);
  EXPECT_EQ(dialog_template_parse(full.data(), full.size(), &d), 1);
  EXPECT_EQ(d.control_count, DIALOG_MAX_CONTROLS);
  EXPECT_EQ(dialog_template_parse(over.data(), over.size(), &d), 0);
}

TEST(ResourceReader, PlainDialogTemplate) {
  Bytes t = plain_dialog(3);
  DialogTemplate d;
  ASSERT_EQ(dialog_template_parse(t.data(), t.size(), &d), 1);
  EXPECT_EQ(d.extended, 0);
  EXPECT_EQ(d.style, 0x80C808C0u);
  EXPECT_EQ(d.ex_style, 0x100u);
  EXPECT_EQ(d.x, 1);
  EXPECT_EQ(d.y, 2);
  EXPECT_STREQ(d.caption, "Plain");
  EXPECT_EQ(d.point_size, 9);
  EXPECT_STREQ(d.font, "Tahoma");
  ASSERT_EQ(d.control_count, 3);

  const DialogControl& label = d.controls[0];
  EXPECT_EQ(label.id, -1);  // stored as 0xFFFF
  EXPECT_EQ(label.class_atom, 0x82);
  EXPECT_STREQ(label.class_name, "Static");
  EXPECT_STREQ(label.text, "Label?");
  EXPECT_EQ(label.style, 0x50020000u);
  EXPECT_EQ(label.cx, -61);

  const DialogControl& button = d.controls[1];
  EXPECT_EQ(button.id, 1001);
  EXPECT_EQ(button.class_atom, 0);
  EXPECT_STREQ(button.class_name, "Button");
  EXPECT_STREQ(button.text, "");
  EXPECT_EQ(button.ex_style, 0x200u);
  // Read from past the first button's creation data.
  EXPECT_EQ(d.controls[2].id, 1002);
  EXPECT_EQ(d.controls[2].style, 0x50000080u);
}
