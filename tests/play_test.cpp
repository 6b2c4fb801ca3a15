// SPDX-License-Identifier: MIT
// quira play and the sound card behind it, with ALSA configurations written here: a card whose
// output is captured to a file (the library's file plugin over a null device), no card at all,
// and a card whose samples go into a pipe that this test drains at a steady pace, so that playback
// takes time the way it does on a real card (the null device alone takes any amount at once).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/host.h"
#include "res/resource.h"
#include "tests/media.h"
#include "tool/hosting/player_host.h"
#include <span>

#include "quira/quira.h"

namespace {

using Clock = std::chrono::steady_clock;

void write_text(const std::string& path, const std::string& text) {
  FILE* file = fopen(path.c_str(), "wb");
  fwrite(text.data(), 1, text.size(), file);
  fclose(file);
}

// An ALSA configuration whose default device writes every sample it is given, raw, to target.
std::string capture_config(const std::string& dir, const std::string& target) {
  std::string path = dir + "/asound.conf";
  write_text(path, "pcm.!default {\n  type file\n  slave.pcm { type null }\n  file \"" + target +
                       "\"\n  format \"raw\"\n}\n");
  return path;
}

// A copy of a media carrier with other effect code and level bytes in its header.
std::string carrier_with_effect(const std::string& dir, const char* name, uint8_t code,
                                uint8_t level_byte) {
  std::vector<uint8_t> bytes = read_bytes(media_path(name));
  bytes[PAYLOAD_OFFSET + 10] = code;
  bytes[PAYLOAD_OFFSET + 11] = level_byte;
  std::string path = dir + "/" + std::to_string(code) + "-" + name;
  write_text(path, std::string(bytes.begin(), bytes.end()));
  return path;
}

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

// Runs quira with ALSA_CONFIG_PATH set and neither standard input nor output a terminal.
Outcome quira(const std::string& args, const std::string& alsa_config, const std::string& dir) {
  std::string out = dir + "/out.txt", err = dir + "/err.txt";
  std::string command = "ALSA_CONFIG_PATH='" + alsa_config + "' " + QUIRA_TOOL + " " + args +
                        " </dev/null >" + out + " 2>" + err;
  int status = system(command.c_str());
  std::vector<uint8_t> printed = read_bytes(out), said = read_bytes(err);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, std::string(printed.begin(), printed.end()),
          std::string(said.begin(), said.end())};
}

std::vector<int16_t> export_samples(const std::string& args, const std::string& dir) {
  std::string out = dir + "/export.wav";
  EXPECT_EQ(quira("-q export " + args + " -o " + out, "/dev/null", dir).status, 0) << args;
  return samples_of(read_bytes(out), 44);
}

// A named pipe standing for a sound card: a thread drains it at about twice real time (16-bit
// mono at 16 kHz), keeping what it read. The pipe holds little, so whoever writes to it waits for
// the drain as for a card.
class PacedPipe {
 public:
  explicit PacedPipe(const std::string& path) {
    mkfifo(path.c_str(), 0600);
    // Read and write, so that opening does not wait for a writer and the pipe lives across the
    // writer's opens and closes.
    fd_ = open(path.c_str(), O_RDWR | O_NONBLOCK);
    fcntl(fd_, F_SETPIPE_SZ, 4096);
    reader_ = std::thread([this] { drain(); });
  }
  ~PacedPipe() {
    stop_ = true;
    reader_.join();
    close(fd_);
  }
  size_t bytes() const { return bytes_; }
  // Everything read so far and all that is left in the pipe; for when the writer has closed.
  std::vector<int16_t> samples() {
    std::vector<uint8_t> all;
    {
      std::lock_guard<std::mutex> hold(lock_);
      read_some(65536);
      all = data_;
    }
    return samples_of(all, 0);
  }

 private:
  void drain() {
    while (!stop_) {
      {
        std::lock_guard<std::mutex> hold(lock_);
        read_some(640);  // 20 ms of sound every 10 ms
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  void read_some(size_t most) {
    uint8_t chunk[65536];
    ssize_t n = read(fd_, chunk, most < sizeof chunk ? most : sizeof chunk);
    if (n <= 0) return;
    data_.insert(data_.end(), chunk, chunk + n);
    bytes_ += (size_t)n;
  }

  int fd_;
  std::atomic<bool> stop_{false};
  std::atomic<size_t> bytes_{0};
  std::mutex lock_;
  std::vector<uint8_t> data_;
  std::thread reader_;
};

}  // namespace

// ---- The device under the stand-in's waveOut* ---------------------------------------------

namespace {

// Runs body as the idle work of a dialog made from the player's own template, so that it has a
// window to name for the device's notifications; the dialog closes when body returns.
void with_dialog(void (*body)(HWND dialog)) {
  static void (*run)(HWND) = nullptr;
  run = body;
  size_t image_size = 0;
  const uint8_t* image_bytes = quira_embedded_player(&image_size);
  std::span<const uint8_t> image(image_bytes, image_size);
  HINSTANCE module = platform_module(image.data(), image.size(), "unused");
  DialogFace face = {};
  face.idle = [](void*, HWND dialog) {
    run(dialog);
    EndDialog(dialog, 0);
    return 0;
  };
  platform_dialog_face(&face);
  DialogBoxParamA(module, MAKEINTRESOURCEA(IDD_PLAYER), nullptr,
                  [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return TRUE; }, 0);
  platform_dialog_face(nullptr);
}

PacedPipe* PIPE;
std::vector<int16_t> SPEECH;

void reset_while_playing(HWND dialog) {
  const WAVEFORMATEX format = {WAVE_FORMAT_PCM, 1, 16000, 32000, 2, 16, 0};
  HWAVEOUT device = nullptr;
  ASSERT_EQ(waveOutOpen(&device, WAVE_MAPPER, &format, (DWORD_PTR)dialog, 0, CALLBACK_WINDOW),
            (MMRESULT)MMSYSERR_NOERROR);
  std::vector<int16_t> buffer = SPEECH;
  WAVEHDR header = {};
  header.lpData = (LPSTR)buffer.data();
  header.dwBufferLength = (DWORD)(buffer.size() * 2);
  waveOutPrepareHeader(device, &header, sizeof header);
  waveOutWrite(device, &header, sizeof header);
  auto deadline = Clock::now() + std::chrono::seconds(20);
  while (PIPE->bytes() < 4 * 640 && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(waveOutReset(device), (MMRESULT)MMSYSERR_NOERROR);
  EXPECT_TRUE(header.dwFlags & WHDR_DONE);
  // The buffer is the caller's again: what the device read from now on would show as other
  // samples in the capture.
  for (int16_t& s : buffer) s = (int16_t)~s;
  EXPECT_EQ(waveOutUnprepareHeader(device, &header, sizeof header), (MMRESULT)MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutClose(device), (MMRESULT)MMSYSERR_NOERROR);
}

}  // namespace

TEST(PlayDeviceMedia, ResetCutsTheBufferShortAndNeverReadsItAfterwards) {
  TempDir dir;
  std::vector<int16_t> speech = samples_of(read_bytes(media_path("speech.wav")), 44);
  ASSERT_GT(speech.size(), 16000u * 10);
  SPEECH.assign(speech.begin(), speech.begin() + 16000 * 10);  // ten seconds in one buffer
  PacedPipe pipe(dir.path + "/card");
  PIPE = &pipe;
  setenv("ALSA_CONFIG_PATH", capture_config(dir.path, dir.path + "/card").c_str(), 1);
  platform_wave_device(platform_wave_alsa());
  with_dialog(reset_while_playing);
  platform_wave_device(nullptr);

  std::vector<int16_t> heard = pipe.samples();
  ASSERT_GT(heard.size(), 0u);
  EXPECT_LT(heard.size(), SPEECH.size() / 2);  // the reset did not wait for the whole buffer
  EXPECT_TRUE(std::equal(heard.begin(), heard.end(), SPEECH.begin()));
}

// ---- quira play, not interactive ----------------------------------------------------------

TEST(PlayMedia, TheCardGetsWhatExportAsPlayedWrites) {
  TempDir dir;
  // An echo at full strength carries the effect's memory across buffers and past the last block.
  for (std::string carrier : {carrier_with_effect(dir.path, "speech-32.exe", 5, 0),
                              media_path("prompts-8.exe")}) {
    std::string capture = dir.path + "/capture.raw";
    Outcome run = quira("play '" + carrier + "'", capture_config(dir.path, capture), dir.path);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    // Not a terminal: one plain line per title, counting up, and nothing else.
    EXPECT_EQ(run.out.find('\033'), std::string::npos);
    EXPECT_EQ(run.out.rfind("Quira [00:00:00]-[00:00:", 0), 0u) << run.out;
    EXPECT_EQ(run.out.find("\n\n"), std::string::npos) << run.out;
    std::vector<int16_t> captured = samples_of(read_bytes(capture), 0);
    std::vector<int16_t> played = export_samples("--as-played '" + carrier + "'", dir.path);
    ASSERT_GE(captured.size(), played.size()) << carrier;
    EXPECT_TRUE(std::equal(played.begin(), played.end(), captured.begin())) << carrier;

    // The card may also have been given part of the buffer queued after the payload ran out:
    // it goes on to that buffer at once, before the player's stop hands it back, as a card does
    // on Windows. That buffer is the start of what the effect leaves behind, which the plain
    // export rings out after the message (with the three silent buffers of the start left out).
    std::vector<int16_t> heard = export_samples("'" + carrier + "'", dir.path);
    size_t tail_at = played.size() - 3 * BLOCK_SAMPLES;
    ASSERT_LE(captured.size() - played.size(), (size_t)BLOCK_SAMPLES) << carrier;
    for (size_t i = played.size(); i < captured.size(); i++) {
      size_t t = tail_at + (i - played.size());
      ASSERT_EQ(captured[i], t < heard.size() ? heard[t] : 0) << carrier << " sample " << i;
    }
  }
}

TEST(PlayMedia, NoCardGivesThePlayersMessageAndExitCode4) {
  TempDir dir;
  write_text(dir.path + "/empty.conf", "");  // an ALSA configuration without a single device
  std::string carrier = media_path("speech-16.exe");
  Outcome run = quira("play '" + carrier + "'", dir.path + "/empty.conf", dir.path);
  EXPECT_EQ(run.status, 4);
  std::string says = "quira: error: " + carrier + ": Can not open sound device. (cannot open";
  EXPECT_EQ(run.err.compare(0, says.size(), says), 0) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
}

// ---- quira play on a terminal -------------------------------------------------------------

namespace {

// quira play running on a pseudo-terminal: keys go in, the title lines come out.
class Terminal {
 public:
  Terminal(const std::string& carrier, const std::string& alsa_config) {
    pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
    if (pid_ == 0) {
      setenv("ALSA_CONFIG_PATH", alsa_config.c_str(), 1);
      execl(QUIRA_TOOL, QUIRA_TOOL, "play", carrier.c_str(), (char*)nullptr);
      _exit(127);
    }
  }
  ~Terminal() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(master_);
  }
  bool started() const { return pid_ > 0; }
  void press(char key) { ASSERT_EQ(write(master_, &key, 1), 1); }

  // Reads output for the given time; returns the titles written in it, in order.
  std::vector<std::string> titles_for(int ms) {
    std::vector<std::string> got;
    auto until = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < until) read_titles(&got, 10);
    return got;
  }
  // Reads output until a title satisfies want (or 20 s pass); returns that title or "".
  template <class Want>
  std::string title_where(Want want) {
    auto until = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < until) {
      std::vector<std::string> got;
      read_titles(&got, 10);
      for (const std::string& t : got)
        if (want(t)) return t;
    }
    return "";
  }
  // Waits (20 s at most) for the process to end; its exit status, or -1.
  int exit_status() {
    auto until = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < until) {
      std::vector<std::string> ignored;
      read_titles(&ignored, 10);
      int status;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
    }
    return -1;
  }
  // The last title read, and the last status line under it ("" once cleared).
  const std::string& last_title() const { return last_; }
  const std::string& status() const { return status_; }
  // Reads output until the status line holds text (or 20 s pass); whether it did.
  bool status_shows(const std::string& text) {
    auto until = Clock::now() + std::chrono::seconds(20);
    while (status_.find(text) == std::string::npos && Clock::now() < until) {
      std::vector<std::string> ignored;
      read_titles(&ignored, 10);
    }
    return status_.find(text) != std::string::npos;
  }
  // The terminal's mode as the program left it.
  tcflag_t local_modes() const {
    struct termios mode;
    tcgetattr(master_, &mode);
    return mode.c_lflag;
  }

 private:
  // Each title is written as a carriage return, the text and a clear-to-end-of-line; so is the
  // status line under it, which is indented.
  void read_titles(std::vector<std::string>* out, int wait_ms) {
    struct pollfd p = {master_, POLLIN, 0};
    if (poll(&p, 1, wait_ms) <= 0) return;
    char chunk[4096];
    ssize_t n = read(master_, chunk, sizeof chunk);
    if (n <= 0) return;
    pending_.append(chunk, (size_t)n);
    for (size_t end; (end = pending_.find("\033[K")) != std::string::npos;) {
      size_t start = pending_.rfind('\r', end);
      if (start != std::string::npos) {
        std::string text = pending_.substr(start + 1, end - start - 1);
        if (text.rfind("Quira [", 0) == 0) {
          last_ = text;
          out->push_back(last_);
        } else {
          size_t first = text.find_first_not_of(' ');
          status_ = first == std::string::npos ? "" : text.substr(first);
        }
      }
      pending_.erase(0, end + 3);
    }
  }

  pid_t pid_ = -1;
  int master_ = -1;
  bool exited_ = false;
  std::string pending_;
  std::string last_;
  std::string status_;
};

// Elapsed seconds in a title "Quira [HH:MM:SS]-[HH:MM:SS]".
int elapsed(const std::string& title) {
  int h, m, s;
  return sscanf(title.c_str(), "Quira [%d:%d:%d]", &h, &m, &s) == 3 ? h * 3600 + m * 60 + s : -1;
}

}  // namespace

TEST(PlayMedia, KeysOnATerminalStopRewindResumeAndClose) {
  TempDir dir;
  PacedPipe card(dir.path + "/card");
  Terminal terminal(media_path("speech-32.exe"), capture_config(dir.path, dir.path + "/card"));
  ASSERT_TRUE(terminal.started());
  ASSERT_NE(terminal.title_where([](const std::string& t) { return elapsed(t) >= 2; }), "");
  EXPECT_TRUE(terminal.status_shows("playing")) << terminal.status();
  EXPECT_NE(terminal.status().find("s stop"), std::string::npos) << terminal.status();

  // Stop holds the position: the title stays where playback halted, and the status says what
  // the keys do now.
  terminal.press('s');
  terminal.titles_for(500);
  EXPECT_TRUE(terminal.titles_for(800).empty()) << "playback went on after stop";
  std::string held = terminal.last_title();
  EXPECT_TRUE(terminal.status_shows("stopped")) << terminal.status();
  EXPECT_NE(terminal.status().find("p resume"), std::string::npos) << terminal.status();

  // Play resumes: it backs up one block, which it reads again to prime the decoder, so the first
  // title is the one it halted at, and the message goes on from there.
  terminal.press('p');
  std::string first = terminal.title_where([](const std::string&) { return true; });
  EXPECT_EQ(first, held);
  EXPECT_GE(elapsed(first), 2);
  int from = elapsed(first);
  EXPECT_NE(terminal.title_where([&](const std::string& t) { return elapsed(t) > from; }), "");

  // Stop, and stop again: the second rewinds to the start.
  terminal.press('s');
  terminal.titles_for(300);
  terminal.press('s');
  std::string rewound = terminal.title_where([](const std::string&) { return true; });
  EXPECT_EQ(rewound.rfind("Quira [00:00:00]-[00:00:", 0), 0u) << rewound;
  EXPECT_TRUE(terminal.titles_for(500).empty());
  EXPECT_NE(terminal.status().find("p play"), std::string::npos) << terminal.status();

  // Play from the start, then q closes the player.
  terminal.press(' ');
  EXPECT_NE(terminal.title_where([](const std::string& t) { return elapsed(t) == 1; }), "");
  terminal.press('q');
  EXPECT_EQ(terminal.exit_status(), 0);
  EXPECT_EQ(terminal.local_modes() & (ICANON | ECHO), (tcflag_t)(ICANON | ECHO));
  EXPECT_EQ(terminal.status(), "") << "the status line was left standing";
  EXPECT_GT(card.bytes(), 0u);
}

TEST(PlayMedia, ATerminalShowsTheEndAndPlayStartsAgainFromTheStart) {
  TempDir dir;
  // The first six blocks of a carrier: two seconds of speech.
  std::vector<uint8_t> bytes = read_bytes(media_path("speech-32.exe"));
  bytes.resize(PAYLOAD_OFFSET + 12 + 6 * BLOCK_BYTES);
  std::string carrier = dir.path + "/short.exe";
  write_text(carrier, std::string(bytes.begin(), bytes.end()));
  PacedPipe card(dir.path + "/card");
  Terminal terminal(carrier, capture_config(dir.path, dir.path + "/card"));
  ASSERT_TRUE(terminal.started());

  // The player stays open at the end, the title at the total.
  ASSERT_TRUE(terminal.status_shows("at the end")) << terminal.status();
  EXPECT_EQ(terminal.last_title(), "Quira [00:00:02]-[00:00:02]");
  EXPECT_TRUE(terminal.titles_for(500).empty());

  // Play starts from the beginning and runs to the end again; a stop there rewinds.
  terminal.press('p');
  EXPECT_TRUE(terminal.status_shows("playing")) << terminal.status();
  EXPECT_NE(terminal.title_where([](const std::string& t) { return elapsed(t) == 0; }), "");
  ASSERT_TRUE(terminal.status_shows("at the end")) << terminal.status();
  terminal.press('s');
  EXPECT_NE(terminal.title_where([](const std::string& t) { return elapsed(t) == 0; }), "");
  EXPECT_TRUE(terminal.status_shows("stopped")) << terminal.status();
  terminal.press('q');
  EXPECT_EQ(terminal.exit_status(), 0);
}
