// SPDX-License-Identifier: MIT
// Audio files of the message: WAV, FLAC, Ogg Vorbis, Opus and MP3.
#include "tool/output/sound_output.h"

#include <sndfile.h>
#include <string.h>
#include <strings.h>

#include <exception>
#include <vector>

#include "quira/quira.h"
#include "tool/cli.h"

namespace {

struct FormatName {
  const char* name;
  ExportFormat format;
};
const FormatName FORMAT_NAMES[] = {
    {"wav", ExportFormat::WAV},     {"flac", ExportFormat::FLAC}, {"ogg", ExportFormat::VORBIS},
    {"oga", ExportFormat::VORBIS},  {"vorbis", ExportFormat::VORBIS}, {"opus", ExportFormat::OPUS},
    {"mp3", ExportFormat::MP3},     {"html", ExportFormat::WEB},  {"htm", ExportFormat::WEB},
};

// libsndfile writes through these onto the AtomicOutput, so that its files too are never
// half-written. An output that cannot be rewritten (a pipe) only "seeks" to where it stands: the
// encoders then leave what they would have completed at the start as it was first written.
struct VirtualOutput {
  AtomicOutput* out;
  bool seekable;
  int64_t base;  // where the file begins in out
  int64_t at;    // where the next write goes, from base
  int64_t end;   // the bytes written so far
  // A write's failure, kept to be raised once libsndfile has returned: no exception may cross
  // its C frames.
  std::exception_ptr error;
};

sf_count_t vio_length(void* user) { return static_cast<VirtualOutput*>(user)->end; }

sf_count_t vio_tell(void* user) { return static_cast<VirtualOutput*>(user)->at; }

sf_count_t vio_seek(sf_count_t offset, int whence, void* user) {
  auto* v = static_cast<VirtualOutput*>(user);
  int64_t to = whence == SEEK_SET ? offset : whence == SEEK_CUR ? v->at + offset : v->end + offset;
  if (to == v->at) return to;
  if (!v->seekable || to < 0 || to > v->end || !v->out->seek(v->base + to)) return -1;
  v->at = to;
  return to;
}

sf_count_t vio_read(void*, sf_count_t, void*) { return 0; }

sf_count_t vio_write(const void* data, sf_count_t n, void* user) {
  auto* v = static_cast<VirtualOutput*>(user);
  if (v->error) return 0;
  try {
    v->out->write(data, (size_t)n);
  } catch (...) {
    v->error = std::current_exception();
    return 0;
  }
  v->at += n;
  if (v->at > v->end) v->end = v->at;
  return n;
}

int sndfile_format(ExportFormat format) {
  switch (format) {
    case ExportFormat::FLAC: return SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    case ExportFormat::VORBIS: return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    case ExportFormat::OPUS: return SF_FORMAT_OGG | SF_FORMAT_OPUS;
    default: return 0;
  }
}

void sndfile_write(AtomicOutput& out, ExportFormat format, const WavSource& source) {
  const std::string name = out.target();
  const bool seekable = out.seekable();
  VirtualOutput v = {&out, seekable, seekable ? out.position() : 0, 0, 0, {}};
  SF_VIRTUAL_IO io = {vio_length, vio_seek, vio_read, vio_write, vio_tell};
  SF_INFO info = {};
  info.samplerate = QUIRA_SAMPLE_RATE;
  info.channels = 1;
  info.format = sndfile_format(format);
  SNDFILE* file = sf_open_virtual(&io, SFM_WRITE, &info, &v);
  if (!file) fail(name, std::string("cannot encode: ") + sf_strerror(nullptr));
  std::vector<int16_t> buffer(QUIRA_BUFFER_SAMPLES * 4);
  try {
    for (int64_t n; (n = source.read(buffer.data(), (int64_t)buffer.size())) > 0;) {
      const bool written = sf_write_short(file, buffer.data(), n) == n;
      if (v.error) std::rethrow_exception(v.error);
      if (!written) fail(name, std::string("cannot encode: ") + sf_strerror(file));
    }
  } catch (...) {
    sf_close(file);
    throw;
  }
  const int closed = sf_close(file);
  if (v.error) std::rethrow_exception(v.error);
  if (closed != 0) fail(name, "cannot finish encoding");
}

// The MP3 of the samples, handed to sink as it is made; the Info frame's bytes at the end.
std::vector<uint8_t> mp3_encode(const std::string& name, const WavSource& source,
                                const std::function<void(const uint8_t*, size_t)>& sink) {
  QuiraMp3* mp3 = nullptr;
  if (quira_mp3_new(&mp3) != QUIRA_OK) fail(name, "this build of quira has no MP3 encoder");
  std::vector<int16_t> buffer(QUIRA_BUFFER_SAMPLES);
  std::vector<uint8_t> bytes(QUIRA_MP3_BYTES_MAX(QUIRA_BUFFER_SAMPLES));
  std::vector<uint8_t> info(8192);
  int32_t made = 0;
  try {
    for (int64_t n; (n = source.read(buffer.data(), (int64_t)buffer.size())) > 0;) {
      made = quira_mp3_encode(mp3, buffer.data(), (int32_t)n, bytes.data(), bytes.size());
      if (made < 0) fail(name, quira_status_text(made));
      sink(bytes.data(), (size_t)made);
    }
    made = quira_mp3_finish(mp3, bytes.data(), bytes.size());
    if (made < 0) fail(name, quira_status_text(made));
    sink(bytes.data(), (size_t)made);
    made = quira_mp3_info_frame(mp3, info.data(), info.size());
    if (made < 0) fail(name, quira_status_text(made));
  } catch (...) {
    quira_mp3_free(mp3);
    throw;
  }
  quira_mp3_free(mp3);
  info.resize((size_t)made);
  return info;
}

void mp3_write(AtomicOutput& out, const WavSource& source) {
  const std::string name = out.target();
  if (out.seekable()) {
    const int64_t start = out.position();
    std::vector<uint8_t> info = mp3_encode(name, source, [&](const uint8_t* b, size_t n) { out.write(b, n); });
    out.write_at(start, info.data(), info.size());
    return;
  }
  // The same samples encode to the same bytes: the first run gives the Info frame, the second
  // writes the stream with it in place of the placeholder LAME put first.
  std::vector<uint8_t> info = mp3_encode(name, source, [](const uint8_t*, size_t) {});
  source.rewind();
  size_t at = 0;
  mp3_encode(name, source, [&](const uint8_t* b, size_t n) {
    for (size_t i = 0; i < n && at + i < info.size(); i++) const_cast<uint8_t*>(b)[i] = info[at + i];
    out.write(b, n);
    at += n;
  });
}

}  // namespace

const char* const EXPORT_FORMAT_NAMES = "wav, flac, ogg (Vorbis), opus, mp3 or html (a web message)";

bool export_format_named(const std::string& name, ExportFormat* format) {
  for (const FormatName& f : FORMAT_NAMES)
    if (strcasecmp(name.c_str(), f.name) == 0) {
      *format = f.format;
      return true;
    }
  return false;
}

bool export_format_of_path(const std::string& path, ExportFormat* format) {
  const size_t slash = path.rfind('/');
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = base.rfind('.');
  if (dot == std::string::npos || dot == 0) {
    *format = ExportFormat::WAV;
    return true;
  }
  return export_format_named(base.substr(dot + 1), format);
}

void sound_write(AtomicOutput& out, ExportFormat format, const WavSource& source) {
  switch (format) {
    case ExportFormat::WAV: wav_write(out, source); break;
    case ExportFormat::MP3: mp3_write(out, source); break;
    default: sndfile_write(out, format, source); break;
  }
}
