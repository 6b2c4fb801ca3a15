// SPDX-License-Identifier: MIT
// Windows, dialogs, controls and the message queue of the stand-in.
//
// A dialog is made from the template in the module's image, with one child window per control.
// Windows are never freed while the process runs: a window that is gone is only marked so, and a
// handle kept after it went (a posted message, a stale notification) still points at a record
// that says so.
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/host.h"
#include "platform/pe_resources.h"

struct Window {
  Window* parent;
  int id;
  uint32_t style;
  char class_name[DIALOG_TEXT_CHARS];
  char text[256];
  HBITMAP image;   // BM_SETIMAGE
  DLGPROC proc;    // dialogs only
  int default_id;  // dialogs: the default push button's id, 0 for none
  bool alive;
  bool ended;
  INT_PTR result;
  std::vector<Window*> children;
};

struct Module {
  const uint8_t* image;
  size_t image_size;
  const char* path;
};

struct Image {
  int id;
  PeResource resource;
};

namespace {

// Input the dialog manager turns into commands; private message numbers of the stand-in.
const UINT INPUT_CLICK = 0x8F01;
const UINT INPUT_KEY = 0x8F02;

struct Message {
  HWND window;
  UINT message;
  WPARAM wparam;
  LPARAM lparam;
};

struct Queue {
  std::mutex lock;
  std::condition_variable posted;
  std::deque<Message> messages;
};

Queue QUEUE;
std::vector<std::unique_ptr<Window>> WINDOWS;
std::vector<std::unique_ptr<Module>> MODULES;
std::vector<std::unique_ptr<Image>> IMAGES;
const DialogFace* FACE;
HWND FOCUS;

Window* window_create(Window* parent, int id, uint32_t style, const char* class_name,
                      const char* text) {
  WINDOWS.push_back(std::make_unique<Window>());
  Window* w = WINDOWS.back().get();
  w->parent = parent;
  w->id = id;
  w->style = style;
  snprintf(w->class_name, sizeof w->class_name, "%s", class_name);
  snprintf(w->text, sizeof w->text, "%s", text);
  w->image = nullptr;
  w->proc = nullptr;
  w->default_id = 0;
  w->alive = true;
  w->ended = false;
  w->result = 0;
  if (parent) parent->children.push_back(w);
  return w;
}

bool is_button(const Window* w) { return strcmp(w->class_name, "Button") == 0; }

bool is_push_button(const Window* w) {
  uint32_t type = w->style & BS_TYPEMASK;
  return is_button(w) && (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON);
}

bool can_take_input(const Window* w) {
  return w->alive && (w->style & WS_VISIBLE) && !(w->style & WS_DISABLED);
}

// Hands one message to a dialog's procedure, then lets the dialog manager do what it does for
// messages the procedure left alone.
INT_PTR dialog_send(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  INT_PTR result = dialog->proc(dialog, message, wparam, lparam);
  if (FACE && FACE->handled) FACE->handled(FACE->context, dialog, message, wparam, lparam, result);
  if (!result && message == WM_CLOSE) PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
  return result;
}

void control_click(HWND control) {
  if (!can_take_input(control)) return;  // a disabled or hidden control gets no mouse input
  if (strcmp(control->class_name, "Static") != 0) SetFocus(control);
  // A clicked push button shows the default-button mark until someone takes it off.
  if (is_push_button(control)) control->style |= BS_DEFPUSHBUTTON;
  if (is_button(control) && control->parent && control->parent->alive)
    dialog_send(control->parent, WM_COMMAND, MAKEWPARAM(control->id, BN_CLICKED),
                (LPARAM)control);
}

void dialog_key(HWND dialog, int key) {
  if (key == VK_ESCAPE) {
    dialog_send(dialog, WM_COMMAND, IDCANCEL, 0);
  } else if (key == VK_RETURN) {
    // A focused button carrying the default mark is the one Enter presses; otherwise the
    // dialog's default push button, or IDOK when it has none.
    int id = dialog->default_id ? dialog->default_id : IDOK;
    if (FOCUS && FOCUS->parent == dialog && is_push_button(FOCUS) &&
        (FOCUS->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
      id = FOCUS->id;
    dialog_send(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(dialog, id));
  }
}

void dispatch(const Message& m) {
  if (!m.window->alive) return;
  if (m.message == INPUT_CLICK) {
    control_click(m.window);
  } else if (m.message == INPUT_KEY) {
    dialog_key(m.window, (int)m.wparam);
  } else if (m.window->proc) {
    dialog_send(m.window, m.message, m.wparam, m.lparam);
  }
}

bool queue_take(Message* out, int wait_ms) {
  std::unique_lock<std::mutex> hold(QUEUE.lock);
  if (QUEUE.messages.empty() && wait_ms != 0) {
    auto ready = [] { return !QUEUE.messages.empty(); };
    if (wait_ms < 0)
      QUEUE.posted.wait(hold, ready);
    else
      QUEUE.posted.wait_for(hold, std::chrono::milliseconds(wait_ms), ready);
  }
  if (QUEUE.messages.empty()) return false;
  *out = QUEUE.messages.front();
  QUEUE.messages.pop_front();
  return true;
}

// The window and its children are gone: later messages to them are dropped.
void window_destroy(Window* w) {
  std::lock_guard<std::mutex> hold(QUEUE.lock);
  w->alive = false;
  for (Window* c : w->children) c->alive = false;
  std::deque<Message> kept;
  for (const Message& m : QUEUE.messages)
    if (m.window->alive) kept.push_back(m);
  QUEUE.messages.swap(kept);
  if (FOCUS && !FOCUS->alive) FOCUS = nullptr;
}

// The control the dialog manager focuses after WM_INITDIALOG asks for it: the first one that can
// take input, statics aside (no control of the player's has a tab stop).
HWND first_focusable(HWND dialog) {
  for (Window* c : dialog->children)
    if (can_take_input(c) && strcmp(c->class_name, "Static") != 0) return c;
  return nullptr;
}

}  // namespace

// ---- Host side ------------------------------------------------------------------------------

HINSTANCE platform_module(const uint8_t* image, size_t image_size, const char* path) {
  MODULES.push_back(std::make_unique<Module>(Module{image, image_size, path}));
  return MODULES.back().get();
}

void platform_dialog_face(const DialogFace* face) { FACE = face; }

void platform_click(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  if (control) PostMessageA(control, INPUT_CLICK, 0, 0);
}

void platform_key(HWND dialog, int key) { PostMessageA(dialog, INPUT_KEY, (WPARAM)key, 0); }

void platform_close(HWND dialog) { PostMessageA(dialog, WM_CLOSE, 0, 0); }

BOOL platform_post(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return PostMessageA(window, message, wparam, lparam);
}

HBITMAP platform_button_image(HWND button) { return button ? button->image : nullptr; }

int platform_image_id(HBITMAP image) { return image ? image->id : 0; }

BOOL platform_window_visible(HWND window) { return window && (window->style & WS_VISIBLE) != 0; }

// ---- USER32 ---------------------------------------------------------------------------------

INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR name, HWND owner, DLGPROC proc, LPARAM param) {
  (void)owner;
  PeResource resource;
  static DialogTemplate layout;  // large; one dialog at a time
  if (!instance || !proc ||
      !pe_resource_find(instance->image, instance->image_size, PE_RT_DIALOG,
                        (uint16_t)(uintptr_t)name, 0, &resource) ||
      !dialog_template_parse(resource.data, resource.size, &layout))
    return -1;

  Window* dialog = window_create(nullptr, 0, layout.style, "#32770", layout.caption);
  dialog->proc = proc;
  for (int i = 0; i < layout.control_count; i++) {
    const DialogControl& c = layout.controls[i];
    Window* child = window_create(dialog, c.id, c.style, c.class_name, c.text);
    if (!dialog->default_id && is_button(child) && (c.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
      dialog->default_id = c.id;
  }

  INT_PTR set_focus = dialog_send(dialog, WM_INITDIALOG, (WPARAM)first_focusable(dialog), param);
  if (set_focus && !dialog->ended) {
    HWND first = first_focusable(dialog);
    if (first) SetFocus(first);
  }
  if (!dialog->ended) {
    dialog->style |= WS_VISIBLE;
    if (FACE && FACE->shown) FACE->shown(FACE->context, dialog);
  }

  while (!dialog->ended) {
    Message m;
    if (queue_take(&m, 0)) {
      dispatch(m);
      continue;
    }
    if (platform_wave_play_next()) continue;
    int wait_ms = FACE && FACE->idle ? FACE->idle(FACE->context, dialog) : -1;
    if (dialog->ended) break;
    if (queue_take(&m, wait_ms)) dispatch(m);
  }

  dialog->style &= ~(uint32_t)WS_VISIBLE;
  if (dialog->proc) dialog_send(dialog, WM_DESTROY, 0, 0);
  window_destroy(dialog);
  return dialog->result;
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
  if (!dialog || !dialog->alive || !dialog->proc) return FALSE;
  dialog->ended = true;
  dialog->result = result;
  return TRUE;
}

HANDLE LoadImageA(HINSTANCE instance, LPCSTR name, UINT type, int cx, int cy, UINT flags) {
  (void)cx;
  (void)cy;
  (void)flags;  // the 3-D colour mapping matters only on a screen
  PeResource resource;
  int id = (int)(uintptr_t)name;
  if (!instance || type != IMAGE_BITMAP ||
      !pe_resource_find(instance->image, instance->image_size, PE_RT_BITMAP, (uint16_t)id, 0,
                        &resource))
    return nullptr;
  IMAGES.push_back(std::make_unique<Image>(Image{id, resource}));
  return IMAGES.back().get();
}

HWND GetDlgItem(HWND dialog, int id) {
  if (!dialog || !dialog->alive) return nullptr;
  for (Window* c : dialog->children)
    if (c->id == id) return c;
  return nullptr;
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (!window || !window->alive) return 0;
  if (window->proc) return dialog_send(window, message, wparam, lparam);
  if (is_button(window) && wparam == IMAGE_BITMAP) {
    HBITMAP old = window->image;
    if (message == BM_SETIMAGE) window->image = (HBITMAP)lparam;
    if (message == BM_SETIMAGE || message == BM_GETIMAGE) return (LRESULT)old;
  }
  return 0;
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  {
    std::lock_guard<std::mutex> hold(QUEUE.lock);
    if (!window || !window->alive) return FALSE;
    QUEUE.messages.push_back(Message{window, message, wparam, lparam});
  }
  QUEUE.posted.notify_one();
  return TRUE;
}

BOOL EnableWindow(HWND window, BOOL enable) {
  if (!window) return FALSE;
  BOOL was_disabled = (window->style & WS_DISABLED) != 0;
  if (enable)
    window->style &= ~(uint32_t)WS_DISABLED;
  else
    window->style |= WS_DISABLED;
  return was_disabled;
}

BOOL IsWindowEnabled(HWND window) { return window && !(window->style & WS_DISABLED); }

LONG GetWindowLongA(HWND window, int index) {
  return window && index == GWL_STYLE ? (LONG)window->style : 0;
}

LONG SetWindowLongA(HWND window, int index, LONG value) {
  if (!window || index != GWL_STYLE) return 0;
  LONG old = (LONG)window->style;
  window->style = (uint32_t)value;
  return old;
}

HWND SetFocus(HWND window) {
  HWND old = FOCUS;
  if (window && window->alive) FOCUS = window;
  return old;
}

HWND GetFocus(void) { return FOCUS; }

BOOL SetWindowTextA(HWND window, LPCSTR text) {
  if (!window || !window->alive) return FALSE;
  snprintf(window->text, sizeof window->text, "%s", text ? text : "");
  if (FACE && FACE->title) FACE->title(FACE->context, window, window->text);
  return TRUE;
}

int GetWindowTextA(HWND window, LPSTR text, int size) {
  if (!window || size <= 0) return 0;
  return snprintf(text, (size_t)size, "%s", window->text) >= size ? size - 1 : (int)strlen(text);
}

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  if (FACE && FACE->message_box) return FACE->message_box(FACE->context, owner, text, caption, type);
  return IDOK;
}

int wsprintfA(LPSTR out, LPCSTR format, ...) {
  enum { WSPRINTF_LIMIT = 1024 };  // the system's own limit, terminator excluded
  va_list args;
  va_start(args, format);
  int n = vsnprintf(out, WSPRINTF_LIMIT + 1, format, args);
  va_end(args);
  return n > WSPRINTF_LIMIT ? WSPRINTF_LIMIT : n;
}

// ---- KERNEL32 -------------------------------------------------------------------------------

DWORD GetModuleFileNameA(HINSTANCE module, LPSTR path, DWORD size) {
  if (!module || !path || size == 0) return 0;
  size_t length = strlen(module->path);
  size_t copied = length < size ? length : size - 1;
  memcpy(path, module->path, copied);
  path[copied] = '\0';
  return length < size ? (DWORD)length : size;
}
