// SPDX-License-Identifier: MIT
// Fuzzer of the Windows resource reader (platform/pe_resources.h): the input is an executable
// image, searched for the player's resources, and also read as a dialog template by itself.
//
// Invariants: a resource found lies wholly inside the image; the same lookup finds the same
// bytes twice; a parsed template holds at most DIALOG_MAX_CONTROLS controls and every text of
// it is terminated within its array.
#include <string.h>

#include "platform/pe_resources.h"
#include "res/resource.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

bool terminated(const char* text) {
  return memchr(text, '\0', DIALOG_TEXT_CHARS) != nullptr;
}

void check_template(const uint8_t* data, uint32_t size) {
  DialogTemplate t;
  if (!dialog_template_parse(data, size, &t)) return;
  FUZZ_CHECK(t.control_count >= 0 && t.control_count <= DIALOG_MAX_CONTROLS, "at most the controls it has room for");
  FUZZ_CHECK(terminated(t.caption) && terminated(t.font), "the template's texts end in their arrays");
  for (int i = 0; i < t.control_count; i++)
    FUZZ_CHECK(terminated(t.controls[i].class_name) && terminated(t.controls[i].text),
               "a control's texts end in their arrays");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const struct {
    uint16_t type, id;
  } LOOKUPS[] = {{PE_RT_DIALOG, IDD_PLAYER}, {PE_RT_BITMAP, IDB_PLAY},   {PE_RT_BITMAP, IDB_STOP},
                 {PE_RT_BITMAP, IDB_PLAYING}, {PE_RT_GROUP_ICON, IDI_PLAYER}, {PE_RT_ICON, 1}};
  for (const auto& l : LOOKUPS)
    for (uint16_t language : {(uint16_t)0, (uint16_t)PLAYER_LANGUAGE}) {
      PeResource found{}, again{};
      if (!pe_resource_find(data, size, l.type, l.id, language, &found)) continue;
      FUZZ_CHECK(found.data >= data && found.size <= size && found.data - data <= (ptrdiff_t)(size - found.size),
                 "a resource lies inside the image");
      FUZZ_CHECK(pe_resource_find(data, size, l.type, l.id, language, &again) && again.data == found.data &&
                     again.size == found.size && again.language == found.language,
                 "the same lookup finds the same resource");
      if (l.type == PE_RT_DIALOG) check_template(found.data, found.size);
    }
  check_template(data, (uint32_t)size);
  return 0;
}
