// SPDX-License-Identifier: MIT
// quira page: the web page the tool carries, written where asked, byte for byte the page the build
// made, and handed to xdg-open (a stand-in on PATH that records what it was given) only where
// there is a desktop. A build made without the page (QUIRA_TOOL_PAGE empty) must refuse.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/media.h"
#include "tests/tool_run.h"

namespace {

std::string said(const std::string& err_path) {
  std::vector<uint8_t> bytes = read_bytes(err_path);
  return std::string(bytes.begin(), bytes.end());
}

bool exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// The environment of one case: DISPLAY, WAYLAND_DISPLAY and PATH as given (nullptr: unset),
// restored when it goes.
struct Environment {
  std::vector<std::pair<std::string, std::string>> saved;
  std::vector<std::string> unset_after;
  void set(const char* name, const char* value) {
    const char* old = getenv(name);
    if (old)
      saved.emplace_back(name, old);
    else
      unset_after.push_back(name);
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~Environment() {
    for (auto& [name, value] : saved) setenv(name.c_str(), value.c_str(), 1);
    for (auto& name : unset_after) unsetenv(name.c_str());
  }
};

// A directory holding an xdg-open that writes its arguments to DIR/opened and exits with status.
std::string fake_xdg_open(const TempDir& dir, int status) {
  std::string bin = dir.path + "/bin";
  mkdir(bin.c_str(), 0755);
  FILE* script = fopen((bin + "/xdg-open").c_str(), "w");
  fprintf(script, "#!/bin/sh\nprintf '%%s\\n' \"$@\" > '%s/opened'\nexit %d\n", dir.path.c_str(), status);
  fclose(script);
  chmod((bin + "/xdg-open").c_str(), 0755);
  return bin;
}

}  // namespace

TEST(ToolPage, WritesTheBuiltPageOrSaysItHasNone) {
  TempDir dir;
  std::string err = dir.path + "/err.txt";
  const std::string page = QUIRA_TOOL_PAGE;
  if (page.empty()) {
    Result r = quira("page -o " + dir.path + "/x.html", err);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(said(err).find("built without the web page"), std::string::npos) << said(err);
    EXPECT_FALSE(exists(dir.path + "/x.html"));
    return;
  }
  const std::vector<uint8_t> built = read_bytes(page);
  ASSERT_GT(built.size(), 100000u);

  ASSERT_EQ(quira("page -o " + dir.path + "/x.html", err).status, 0) << said(err);
  EXPECT_TRUE(read_bytes(dir.path + "/x.html") == built);
  EXPECT_EQ(said(err), "");

  // Without -o: quira.html in the current directory, replaced when it is there.
  char cwd[4096];
  ASSERT_TRUE(getcwd(cwd, sizeof cwd));
  ASSERT_EQ(chdir(dir.path.c_str()), 0);
  write_file("quira.html", {'o', 'l', 'd'});
  int status = quira("page", err).status;
  ASSERT_EQ(chdir(cwd), 0);
  EXPECT_EQ(status, 0) << said(err);
  EXPECT_TRUE(read_bytes(dir.path + "/quira.html") == built);

  Result piped = quira("page -o - | cat");
  EXPECT_EQ(piped.status, 0);
  EXPECT_TRUE(std::vector<uint8_t>(piped.out.begin(), piped.out.end()) == built);
}

TEST(ToolPage, OpenHandsTheFileToXdgOpenOnlyOnADesktop) {
  if (std::string(QUIRA_TOOL_PAGE).empty()) GTEST_SKIP() << "this build carries no page";
  const std::vector<uint8_t> built = read_bytes(QUIRA_TOOL_PAGE);
  TempDir dir;
  std::string err = dir.path + "/err.txt", out = dir.path + "/sub/m.html";
  mkdir((dir.path + "/sub").c_str(), 0755);
  std::string bin = fake_xdg_open(dir, 0);
  const std::string path = bin + ":/usr/bin:/bin";
  {
    // On X: the file is written, then xdg-open gets its absolute path.
    Environment env;
    env.set("PATH", path.c_str());
    env.set("DISPLAY", ":7");
    env.set("WAYLAND_DISPLAY", nullptr);
    ASSERT_EQ(quira("page --open -o " + out, err).status, 0) << said(err);
    EXPECT_TRUE(read_bytes(out) == built);
    EXPECT_EQ(said(dir.path + "/opened"), out + "\n");
  }
  {
    // Wayland alone is a desktop too.
    Environment env;
    env.set("PATH", path.c_str());
    env.set("DISPLAY", nullptr);
    env.set("WAYLAND_DISPLAY", "wayland-0");
    unlink((dir.path + "/opened").c_str());
    EXPECT_EQ(quira("page --open -o " + out, err).status, 0) << said(err);
    EXPECT_TRUE(exists(dir.path + "/opened"));
  }
  struct Refused {
    const char* display;
    const char* path;
    int status;
    const char* says;
  } cases[] = {
      {nullptr, path.c_str(), 2, "no desktop to open the page on"},
      {"", path.c_str(), 2, "no desktop to open the page on"},
      {":7", "/nonexistent", 2, "xdg-open, which hands the page to the browser, is not installed"},
  };
  for (const Refused& c : cases) {
    // Refused before anything is written.
    Environment env;
    env.set("PATH", c.path);
    env.set("DISPLAY", c.display);
    env.set("WAYLAND_DISPLAY", nullptr);
    unlink((dir.path + "/opened").c_str());
    std::string target = dir.path + "/refused.html";
    Result r = quira("page --open -o " + target, err);
    EXPECT_EQ(r.status, c.status) << c.says;
    EXPECT_NE(said(err).find("quira: error: " + target + ": " + c.says), std::string::npos) << said(err);
    EXPECT_FALSE(exists(target)) << c.says;
    EXPECT_FALSE(exists(dir.path + "/opened")) << c.says;
  }
  {
    // xdg-open fails (no browser, say): the page stays written and the failure is reported.
    TempDir other;
    std::string failing = fake_xdg_open(other, 3) + ":/usr/bin:/bin";
    Environment env;
    env.set("PATH", failing.c_str());
    env.set("DISPLAY", ":7");
    std::string target = dir.path + "/kept.html";
    EXPECT_EQ(quira("page --open -o " + target, err).status, 2);
    EXPECT_NE(said(err).find("written, but xdg-open could not open it (exit status 3)"), std::string::npos) << said(err);
    EXPECT_TRUE(read_bytes(target) == built);
  }
  EXPECT_EQ(quira("page --open -o -", err).status, 1);
  EXPECT_NE(said(err).find("--open needs a file"), std::string::npos) << said(err);
}
