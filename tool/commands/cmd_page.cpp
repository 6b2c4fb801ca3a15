// SPDX-License-Identifier: MIT
// quira page [-o FILE] [--open]: writes the web page this tool carries, the player and maker in
// one self-contained file, so that anyone with the tool can pass it on to people who cannot run a
// carrier. The page is the build's own quira.html, byte for byte, linked into the tool as the
// player is (tool/CMakeLists.txt); a build made without the page carries none and says so.
//
// --open hands the written file to xdg-open, which starts the desktop's browser. Without a
// desktop (no DISPLAY, no WAYLAND_DISPLAY) or without xdg-open, that cannot work: the command
// says so before it writes anything.
#include <errno.h>
#include <limits.h>
#include <spawn.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "tool/commands/commands.h"
#include "tool/output/output.h"

extern "C" const uint8_t page_image_begin[];
extern "C" const uint8_t page_image_end[];
extern char** environ;

namespace {

const char DEFAULT_PAGE_NAME[] = "quira.html";

bool has_desktop() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = getenv(name);
    if (value && *value) return true;
  }
  return false;
}

// Whether a program of that name is on PATH, as posix_spawnp would find it.
bool on_path(const char* program) {
  const char* path = getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  for (size_t start = 0; start <= dirs.size();) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = dirs.substr(start, end - start);
    std::string candidate = (dir.empty() ? "." : dir) + "/" + program;
    struct stat st;
    if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(candidate.c_str(), X_OK) == 0)
      return true;
    start = end + 1;
  }
  return false;
}

// Runs xdg-open on path and waits for it (it returns once the browser has the file); its exit
// status, or -1 when it could not be started or did not exit.
int run_xdg_open(const std::string& path) {
  char program[] = "xdg-open";
  std::string argument = path;
  char* argv[] = {program, argument.data(), nullptr};
  pid_t pid;
  if (posix_spawnp(&pid, program, nullptr, nullptr, argv, environ) != 0) return -1;
  int status;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

int command_page(Args& args) {
  std::string out_path = DEFAULT_PAGE_NAME;
  args.option("--output", "-o", &out_path);
  const bool open = args.flag("--open");
  args.finish();

  const size_t size = (size_t)(page_image_end - page_image_begin);
  if (size == 0) fail(out_path, "this quira was built without the web page (configured with -DQUIRA_WEB=OFF)");
  if (out_path == "-") {
    if (open) fail_usage("page: --open needs a file to open, not '-o -'");
    if (isatty(STDOUT_FILENO)) fail_usage("page: refusing to write the page to a terminal; redirect '-o -' or name a file");
  }
  if (open) {
    if (!has_desktop())
      fail(out_path, "no desktop to open the page on (neither DISPLAY nor WAYLAND_DISPLAY is set); leave out --open to only write it");
    if (!on_path("xdg-open"))
      fail(out_path, "xdg-open, which hands the page to the browser, is not installed (Debian's xdg-utils); leave out --open to only write it");
  }

  AtomicOutput out(out_path, "");
  out.write(page_image_begin, size);
  out.commit();
  if (!open) return EXIT_OK;

  char resolved[PATH_MAX];
  std::string path = realpath(out_path.c_str(), resolved) ? resolved : out_path;
  int status = run_xdg_open(path);
  if (status != 0)
    fail(out_path, "written, but xdg-open could not open it" +
                       (status > 0 ? " (exit status " + std::to_string(status) + ")" : std::string()));
  return EXIT_OK;
}
