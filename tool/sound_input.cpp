// Recording input over libsndfile.
#include "tool/sound_input.h"

#include <errno.h>
#include <fcntl.h>
#include <sndfile.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tool/cli.h"

// Standard input held in memory, read by libsndfile through its virtual I/O.
struct SoundInput::Memory {
  std::vector<uint8_t> bytes;
  sf_count_t position = 0;

  static sf_count_t length(void* self) { return (sf_count_t)static_cast<Memory*>(self)->bytes.size(); }
  static sf_count_t tell(void* self) { return static_cast<Memory*>(self)->position; }
  static sf_count_t seek(sf_count_t offset, int whence, void* self) {
    Memory* m = static_cast<Memory*>(self);
    sf_count_t base = whence == SEEK_CUR ? m->position : whence == SEEK_END ? length(self) : 0;
    if (base + offset < 0) return -1;
    m->position = base + offset;
    return m->position;
  }
  static sf_count_t read(void* out, sf_count_t count, void* self) {
    Memory* m = static_cast<Memory*>(self);
    sf_count_t left = length(self) - m->position;
    if (count > left) count = left < 0 ? 0 : left;
    if (count > 0) memcpy(out, m->bytes.data() + m->position, (size_t)count);
    m->position += count;
    return count;
  }
  static sf_count_t write(const void*, sf_count_t, void*) { return 0; }
};

SoundInput::SoundInput(const std::string& path) : name_(path == "-" ? "standard input" : path) {
  SF_INFO info{};
  if (path == "-") {
    memory_ = std::make_unique<Memory>();
    uint8_t chunk[65536];
    for (ssize_t n; (n = ::read(STDIN_FILENO, chunk, sizeof chunk)) != 0;) {
      if (n < 0) {
        if (errno == EINTR) continue;
        fail(name_, strerror(errno));
      }
      memory_->bytes.insert(memory_->bytes.end(), chunk, chunk + n);
    }
    if (memory_->bytes.empty()) fail(name_, "empty, no recording");
    SF_VIRTUAL_IO io = {Memory::length, Memory::seek, Memory::read, Memory::write, Memory::tell};
    file_.reset(sf_open_virtual(&io, SFM_READ, &info, memory_.get()));
  } else {
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) fail(name_, strerror(errno));
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
      int error = S_ISDIR(st.st_mode) ? EISDIR : errno;
      close(fd);
      fail(name_, strerror(error));
    }
    if (S_ISREG(st.st_mode) && st.st_size == 0) {
      close(fd);
      fail(name_, "empty file, no recording");
    }
    file_.reset(sf_open_fd(fd, SFM_READ, &info, SF_TRUE));
  }
  if (!file_) {
    std::string why = sf_strerror(nullptr);
    if (!why.empty() && why.back() == '.') why.pop_back();
    fail(name_, "not a recording this tool can read (" + why + ")");
  }
  rate_ = info.samplerate;
  channels_ = info.channels;
  frames_ = info.frames;
  if (rate_ <= 0 || channels_ <= 0) fail(name_, "declares no sampling rate or no channels");
  if (frames_ <= 0) fail(name_, "holds no samples");
}

void SoundFileCloser::operator()(SNDFILE* file) const {
  sf_close(file);
}

SoundInput::~SoundInput() = default;

size_t SoundInput::read_frames(float* out, size_t max) {
  sf_count_t got = sf_readf_float(file_.get(), out, (sf_count_t)max);
  if (got <= 0 && sf_error(file_.get()) != SF_ERR_NO_ERROR) fail(name_, std::string("cannot be read: ") + sf_strerror(file_.get()));
  return got <= 0 ? 0 : (size_t)got;
}
