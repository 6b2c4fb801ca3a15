// SPDX-License-Identifier: MIT
// Recording input over libsndfile.
#include "tool/encoding/sound_input.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sndfile.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tool/cli.h"

namespace {

// Formats libsndfile reads from a pipe exactly as from a file (checked sample for sample).
bool pipe_readable(int format) {
  switch (format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_WAV:
    case SF_FORMAT_WAVEX:
    case SF_FORMAT_W64:
    case SF_FORMAT_AU:
    case SF_FORMAT_AIFF:
    case SF_FORMAT_MPEG:
      return true;
    case SF_FORMAT_OGG:
      return (format & SF_FORMAT_SUBMASK) == SF_FORMAT_VORBIS;
    default:
      return false;
  }
}

std::string format_name(int format) {
  SF_FORMAT_INFO info{};
  info.format = format & SF_FORMAT_TYPEMASK;
  if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) == 0 && info.name) return info.name;
  return "this format";
}

// What kind of file a mode is, for a refusal.
const char* file_kind(mode_t mode) {
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

uint32_t le32(const uint8_t* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

// The sample frames a RIFF WAVE file's data chunk declares, read from its header through fd
// (without moving its offset); -1 when it declares none that can be trusted (a placeholder
// size, no fmt chunk before the data). libsndfile reports what the file holds, which for a
// copy cut short is less than this.
int64_t wave_declared_frames(int fd) {
  uint8_t head[12];
  if (pread(fd, head, sizeof head, 0) != (ssize_t)sizeof head || memcmp(head, "RIFF", 4) != 0 ||
      memcmp(head + 8, "WAVE", 4) != 0)
    return -1;
  uint32_t block_align = 0;
  off_t at = 12;
  for (int chunks = 0; chunks < 64; chunks++) {
    uint8_t chunk[8 + 14];
    const ssize_t n = pread(fd, chunk, sizeof chunk, at);
    if (n < 8) return -1;
    const uint32_t size = le32(chunk + 4);
    if (memcmp(chunk, "fmt ", 4) == 0 && n >= 8 + 14) block_align = (uint32_t)chunk[8 + 12] | (uint32_t)chunk[8 + 13] << 8;
    if (memcmp(chunk, "data", 4) == 0) {
      if (block_align == 0 || size == 0 || size == 0xFFFFFFFFu) return -1;
      return (int64_t)(size / block_align);
    }
    at += 8 + (off_t)size + (size & 1);
  }
  return -1;
}

}  // namespace

SoundInput::SoundInput(const std::string& path) : name_(path == "-" ? "standard input" : path) {
  int fd = STDIN_FILENO;
  struct stat st;
  if (path == "-") {
    if (isatty(fd)) fail(name_, "is a terminal: pipe a recording in, or redirect one (< FILE)");
    if (fstat(fd, &st) != 0) fail(name_, strerror(errno));
  } else {
    // Opening without waiting, then looking at what was opened: a named pipe would otherwise
    // block the open before its kind is known, a device take any time it likes.
    fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) fail(name_, strerror(errno));
    if (fstat(fd, &st) != 0) {
      int error = errno;
      close(fd);
      fail(name_, strerror(error));
    }
    if (S_ISFIFO(st.st_mode)) {
      // A named pipe is a stream: wait for its writer as any reader of one does. The descriptor
      // opened above is kept: a writer may have come, written and gone already, and what it
      // wrote is in this pipe (a second open would lose it, then wait for a writer for ever).
      // Until a writer has come, poll waits and read would report the end.
      struct pollfd wait = {fd, POLLIN, 0};
      while (poll(&wait, 1, -1) < 0) {
        if (errno != EINTR) fail(name_, strerror(errno));
      }
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  }
  const bool stream = S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode);
  std::string refusal;
  if (S_ISDIR(st.st_mode)) refusal = strerror(EISDIR);
  else if (!S_ISREG(st.st_mode) && !stream)
    refusal = std::string(file_kind(st.st_mode)) + ", neither a regular file nor a pipe";
  else if (S_ISREG(st.st_mode) && st.st_size == 0) refusal = "empty file, no recording";
  if (!refusal.empty()) {
    if (fd != STDIN_FILENO) close(fd);
    fail(name_, refusal);
  }

  SF_INFO info{};
  file_.reset(sf_open_fd(fd, SFM_READ, &info, fd != STDIN_FILENO));
  if (!file_) {
    std::string why = sf_strerror(nullptr);
    if (!why.empty() && why.back() == '.') why.pop_back();
    if (stream)
      fail(name_, "not a recording this tool can read from a pipe (" + why +
                      "; FLAC, CAF, RF64 and other formats that must seek are read only from a file)");
    fail(name_, "not a recording this tool can read (" + why + ")");
  }
  if (stream && !pipe_readable(info.format))
    fail(name_, format_name(info.format) + " cannot be read from a pipe, which libsndfile would have to seek in: "
                "give the file itself");
  rate_ = info.samplerate;
  channels_ = info.channels;
  // What a pipe's header says of its length may be a placeholder (a writer that could not go
  // back to fill it in): the stream's end is its length. Reads still stop at what it declares,
  // as libsndfile does: a longer read would wait for bytes past the recording, or for the end of
  // a pipe that stays open.
  frames_ = stream ? -1 : info.frames;
  unread_ = info.frames;
  const int kind = info.format & SF_FORMAT_TYPEMASK;
  if (!stream && (kind == SF_FORMAT_WAV || kind == SF_FORMAT_WAVEX)) declared_ = wave_declared_frames(fd);
  if (declared_ < frames_) declared_ = frames_;
  if (rate_ <= 0 || channels_ <= 0) fail(name_, "declares no sampling rate or no channels");
  if (frames_ == 0) fail(name_, "holds no samples");
}

void SoundFileCloser::operator()(SNDFILE* file) const {
  sf_close(file);
}

size_t SoundInput::read(float* interleaved, size_t max) {
  if (unread_ <= 0) return 0;
  if ((int64_t)max > unread_) max = (size_t)unread_;
  sf_count_t got = sf_readf_float(file_.get(), interleaved, (sf_count_t)max);
  if (got <= 0 && sf_error(file_.get()) != SF_ERR_NO_ERROR)
    fail(name_, std::string("cannot be read: ") + sf_strerror(file_.get()));
  if (got <= 0) return 0;
  unread_ -= got;
  return (size_t)got;
}
