// SPDX-License-Identifier: MIT
// Atomic output files and WAV writing.
#include "tool/output/output.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "quira/quira.h"
#include "tool/carrier.h"
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
  // SIGABRT too: a library's failed assertion must not leave the temporary file either.
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGABRT}) ::signal(s, output_on_signal);
}

static void output_untrack(void) {
  PENDING_TEMP[0] = '\0';
}

// The path a chain of symbolic links starting at path ends at (path itself when it is none); the
// end may not exist yet. A relative link is taken from its own directory.
static std::string output_follow_links(const std::string& target) {
  std::string path = target;
  for (int hops = 0; hops < 40; hops++) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    std::vector<char> link((size_t)(st.st_size > 0 ? st.st_size : 255) + 1);
    ssize_t n = readlink(path.c_str(), link.data(), link.size());
    if (n < 0) fail(target, strerror(errno));
    if ((size_t)n >= link.size()) fail(target, "a symbolic link that changes while it is read");
    std::string to(link.data(), (size_t)n);
    size_t slash = path.rfind('/');
    path = to[0] == '/' || slash == std::string::npos ? to : path.substr(0, slash + 1) + to;
  }
  fail(target, strerror(ELOOP));
}

// Whether st is the very file the input names ("-": standard input), by device and inode.
static bool output_is_input(const struct stat& st, const std::string& input) {
  struct stat in_st;
  const int got = input == "-" ? fstat(STDIN_FILENO, &in_st) : stat(input.c_str(), &in_st);
  return got == 0 && in_st.st_dev == st.st_dev && in_st.st_ino == st.st_ino;
}

AtomicOutput::AtomicOutput(const std::string& target, const std::string& input, bool replace)
    : target_(target), replace_(replace) {
  struct stat out_st;
  if (target == "-") {
    if (isatty(STDOUT_FILENO)) fail_usage("refusing to write audio to a terminal; redirect '-o -' or name a file");
    // Standard output opened on the input (`>> in`, `1<> in`) would be read back as more input,
    // or overwrite it while it is read.
    if (fstat(STDOUT_FILENO, &out_st) == 0 && S_ISREG(out_st.st_mode) && output_is_input(out_st, input))
      fail(target, "standard output is the input file; refusing to write into it");
    to_stdout_ = true;
    file_ = stdout;
    return;
  }
  refuse_input(target, input);
  final_ = output_follow_links(target);
  struct stat st;
  const bool exists = stat(final_.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) fail(target, strerror(EISDIR));
  if (exists && (S_ISBLK(st.st_mode) || S_ISSOCK(st.st_mode)))
    fail(target, S_ISBLK(st.st_mode) ? "a block device: refusing to write over it" : "a socket: cannot be written to");
  if (exists && (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode))) {
    // Replacing a device or FIFO by a regular file would break it (as root: /dev/null for the
    // whole system); they are written to as they are.
    int fd = open(final_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) fail(target, strerror(errno));
    if (isatty(fd)) {
      close(fd);
      fail(target, "a terminal: refusing to write audio to it");
    }
    file_ = fdopen(fd, "wb");
    if (!file_) {
      int error = errno;
      close(fd);
      fail(target, strerror(error));
    }
    return;
  }
  std::string pattern = final_ + ".XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  int fd = mkstemp(name.data());
  if (fd < 0) fail(target, strerror(errno));
  temp_ = name.data();
  output_track(temp_);
  // mkstemp makes the file private; an output file gets the usual permissions, a replaced one
  // keeps its own.
  mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, exists ? st.st_mode & 07777 : 0666 & ~mask);
  file_ = fdopen(fd, "wb");
  if (!file_) {
    int error = errno;
    close(fd);
    unlink(temp_.c_str());
    output_untrack();
    fail(target, strerror(error));
  }
}

// Puts the finished temporary file in place. Without replace, the target must not exist by then:
// another command may have made it since the check at the start, and the rename would replace
// it without a word. RENAME_NOREPLACE does that in one step; where the file system lacks it, a
// hard link does, which fails as well when the name exists. A file system with neither (no
// hard links: FAT) falls back to the check and the rename. false with errno on failure.
static bool output_place(const std::string& temp, const std::string& final_path, bool replace) {
  if (replace) return rename(temp.c_str(), final_path.c_str()) == 0;
  if (renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, final_path.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return false;
  if (link(temp.c_str(), final_path.c_str()) == 0) {
    unlink(temp.c_str());
    return true;
  }
  if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP) return false;
  struct stat st;
  if (lstat(final_path.c_str(), &st) == 0) {
    errno = EEXIST;
    return false;
  }
  return rename(temp.c_str(), final_path.c_str()) == 0;
}

AtomicOutput::~AtomicOutput() {
  if (to_stdout_ || committed_) return;
  if (file_) fclose(file_);
  if (temp_.empty()) return;
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
  if (!temp_.empty() && fsync(fileno(file_)) != 0) fail(name, strerror(errno));
  int closed = fclose(file_);
  file_ = nullptr;
  if (closed != 0) fail(name, strerror(errno));
  if (!temp_.empty()) {
    if (!output_place(temp_, final_, replace_)) {
      if (errno == EEXIST) fail(name, "exists (use --force to replace it)");
      fail(name, strerror(errno));
    }
    output_untrack();
  }
  committed_ = true;
}

void refuse_input(const std::string& target, const std::string& input) {
  struct stat out_st;
  if (target != "-" && stat(target.c_str(), &out_st) == 0 && output_is_input(out_st, input))
    fail(target, "is the input file; refusing to overwrite it");
}

void refuse_existing(const std::string& target, bool force) {
  struct stat st;
  if (!force && target != "-" && stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode))
    fail(target, "exists (use --force to replace it)");
}

bool AtomicOutput::seekable() const {
  if (!to_stdout_ && !temp_.empty()) return true;  // the temporary file of our own
  // A direct output (standard output, a device, a FIFO) can be written over only when it is a file
  // of its own at a known place: not a pipe or a device, and not opened for appending, where every
  // write goes to the end.
  struct stat st;
  int flags = fcntl(fileno(file_), F_GETFL);
  return fstat(fileno(file_), &st) == 0 && S_ISREG(st.st_mode) && flags >= 0 && !(flags & O_APPEND) &&
         ftello(file_) >= 0;
}

int64_t AtomicOutput::position() const { return (int64_t)ftello(file_); }

bool AtomicOutput::seek(int64_t offset) { return fflush(file_) == 0 && fseeko(file_, offset, SEEK_SET) == 0; }

void AtomicOutput::write_at(int64_t offset, const void* data, size_t bytes) {
  const std::string name = to_stdout_ ? "-" : target_;
  off_t end = ftello(file_);
  if (fflush(file_) != 0 || end < 0 || fseeko(file_, offset, SEEK_SET) != 0) fail(name, strerror(errno));
  write(data, bytes);
  if (fflush(file_) != 0 || fseeko(file_, end, SEEK_SET) != 0) fail(name, strerror(errno));
}

void wav_write(AtomicOutput& out, const WavSource& source) {
  const std::string name = out.target();
  uint8_t header[QUIRA_WAV_HEADER_BYTES];
  const int64_t most = source.samples >= 0 ? source.samples : source.most_samples;
  check_status(name, quira_wav_header(most, header, sizeof header));
  const bool patch = source.samples < 0 && out.seekable();
  const int64_t declared = patch ? 0 : source.samples >= 0 ? source.samples : QUIRA_WAV_OPEN_LENGTH;
  check_status(name, quira_wav_header(declared, header, sizeof header));
  const int64_t header_at = patch ? out.position() : 0;
  out.write(header, sizeof header);
  std::vector<int16_t> buffer(QUIRA_BUFFER_SAMPLES * 4);
  int64_t written = 0;
  for (int64_t n; (n = source.read(buffer.data(), (int64_t)buffer.size())) > 0; written += n) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    for (int64_t i = 0; i < n; i++) buffer[i] = (int16_t)__builtin_bswap16((uint16_t)buffer[i]);
#endif
    out.write(buffer.data(), (size_t)n * 2);
  }
  if (source.samples >= 0 && written != source.samples) fail(name, "the message changed while it was written");
  if (patch) {
    check_status(name, quira_wav_header(written, header, sizeof header));
    out.write_at(header_at, header, sizeof header);
  }
}
