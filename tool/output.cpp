// Atomic output files and WAV writing.
#include "tool/output.h"

#include <errno.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tool/cli.h"

// The temporary file being written, for the signal handler: an interrupted command must not leave
// it behind. One output is written at a time.
static char PENDING_TEMP[4096];

static void output_on_signal(int signal_number) {
  if (PENDING_TEMP[0]) unlink(PENDING_TEMP);
  ::signal(signal_number, SIG_DFL);
  raise(signal_number);
}

static void output_track(const std::string& temp) {
  if (temp.size() >= sizeof PENDING_TEMP) return;
  memcpy(PENDING_TEMP, temp.c_str(), temp.size() + 1);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) ::signal(s, output_on_signal);
}

static void output_untrack(void) {
  PENDING_TEMP[0] = '\0';
}

AtomicOutput::AtomicOutput(const std::string& target, const std::string& input) : target_(target) {
  if (target == "-") {
    if (isatty(STDOUT_FILENO)) fail_usage("refusing to write audio to a terminal; redirect '-o -' or name a file");
    to_stdout_ = true;
    file_ = stdout;
    return;
  }
  struct stat in_st, out_st;
  if (stat(input.c_str(), &in_st) == 0 && stat(target.c_str(), &out_st) == 0 &&
      in_st.st_dev == out_st.st_dev && in_st.st_ino == out_st.st_ino)
    fail(target, "is the input file; refusing to overwrite it");
  std::string pattern = target + ".XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  int fd = mkstemp(name.data());
  if (fd < 0) fail(target, strerror(errno));
  temp_ = name.data();
  output_track(temp_);
  // mkstemp makes the file private; an output file gets the usual permissions.
  mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  file_ = fdopen(fd, "wb");
  if (!file_) {
    int error = errno;
    close(fd);
    unlink(temp_.c_str());
    fail(target, strerror(error));
  }
}

AtomicOutput::~AtomicOutput() {
  if (to_stdout_ || committed_) return;
  if (file_) fclose(file_);
  unlink(temp_.c_str());
  output_untrack();
}

void AtomicOutput::write(const void* data, size_t bytes) {
  if (bytes && fwrite(data, 1, bytes, file_) != bytes) fail(to_stdout_ ? "-" : target_, strerror(errno));
}

void AtomicOutput::commit() {
  const std::string name = to_stdout_ ? "-" : target_;
  if (fflush(file_) != 0) fail(name, strerror(errno));
  if (to_stdout_) {
    committed_ = true;
    return;
  }
  if (fsync(fileno(file_)) != 0) fail(name, strerror(errno));
  int closed = fclose(file_);
  file_ = nullptr;
  if (closed != 0) fail(name, strerror(errno));
  if (rename(temp_.c_str(), target_.c_str()) != 0) fail(name, strerror(errno));
  output_untrack();
  committed_ = true;
}

void refuse_existing(const std::string& target, bool force) {
  struct stat st;
  if (!force && target != "-" && lstat(target.c_str(), &st) == 0) fail(target, "exists (use --force to replace it)");
}

static void put_le(std::vector<uint8_t>& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; i++) out.push_back((uint8_t)(value >> (8 * i)));
}

void wav_write(AtomicOutput& out, const std::vector<int16_t>& samples) {
  const uint64_t data_bytes = samples.size() * 2;
  if (data_bytes > 0xFFFFFFFFull - 36) fail(out.target(), "too long for a WAV file");
  std::vector<uint8_t> header;
  header.insert(header.end(), {'R', 'I', 'F', 'F'});
  put_le(header, (uint32_t)(36 + data_bytes), 4);
  header.insert(header.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  put_le(header, 16, 4);            // PCM format record
  put_le(header, 1, 2);             // PCM
  put_le(header, 1, 2);             // mono
  put_le(header, WAV_RATE, 4);
  put_le(header, WAV_RATE * 2, 4);  // bytes per second
  put_le(header, 2, 2);             // block alignment
  put_le(header, 16, 2);            // bits per sample
  header.insert(header.end(), {'d', 'a', 't', 'a'});
  put_le(header, (uint32_t)data_bytes, 4);
  out.write(header.data(), header.size());
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  out.write(samples.data(), data_bytes);
#else
  std::vector<uint8_t> bytes;
  bytes.reserve(data_bytes);
  for (int16_t s : samples) put_le(bytes, (uint16_t)s, 2);
  out.write(bytes.data(), bytes.size());
#endif
}
