// SPDX-License-Identifier: MIT
// The formats `quira export` writes and how each is written: WAV by the tool's own writer (the
// canonical 44-byte header), FLAC, Ogg Vorbis and Opus by libsndfile's encoders, MP3 by
// libquira's (the pinned LAME, as the web page encodes it), and the web message, which holds the
// carrier's payload rather than samples. The samples come from a WavSource (output.h), a buffer at
// a time, so memory stays the same whatever the message's length.
#pragma once
#include <string>

#include "tool/output/output.h"

enum class ExportFormat { WAV, FLAC, VORBIS, OPUS, MP3, WEB };

// The format --format names ("wav", "flac", "ogg" or "vorbis", "opus", "mp3", "html"); false for
// none of them.
bool export_format_named(const std::string& name, ExportFormat* format);
// The format an output's name asks for by its extension (the case does not matter). A name
// without one ("-", a device) asks for WAV; false for an extension of no format here.
bool export_format_of_path(const std::string& path, ExportFormat* format);
// The names --format takes, for messages.
extern const char* const EXPORT_FORMAT_NAMES;

// Writes the samples source gives in format (not WEB) to out. Where the encoder's bytes must be
// completed at the start once all are known (the MP3's Info frame) and out cannot be rewritten,
// the samples are made twice.
void sound_write(AtomicOutput& out, ExportFormat format, const WavSource& source);
