// SPDX-License-Identifier: MIT
/* libquira: reading, playing and making Quira voice messages.
 *
 * A carrier is the Quira player executable (163,840 bytes) followed by the payload: a 12-byte
 * header (byte 10 the effect code, byte 11 the level byte) and blocks of 1,440 bytes, each ten
 * scrambled MPEG Layer III frames that decode to 5,760 samples at 16,000 Hz (0.36 s).
 *
 * The library only ever reads a carrier as data; it never runs the front part.
 *
 * Rules of the interface:
 * - C ABI: plain C types, no exceptions cross it. Every object is created by a _open or _new
 *   call and released by the matching _close or _free; null is accepted there and ignored.
 * - No hidden global state: objects are independent and may be used from different threads at
 *   the same time; one object is used by one thread at a time.
 * - Failure is a return value: the functions that can fail return a QuiraStatus, QUIRA_OK (0)
 *   on success. quira_status_text gives a sentence for each.
 * - Samples are signed 16-bit, mono, 16,000 Hz.
 * - Memory stays bounded by a constant for every reader, whatever the carrier's length.
 */
#ifndef QUIRA_QUIRA_H
#define QUIRA_QUIRA_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(QUIRA_SHARED_BUILD) && defined(__GNUC__)
#define QUIRA_API __attribute__((visibility("default")))
#else
#define QUIRA_API
#endif

/* Layout constants. */
enum {
  QUIRA_PAYLOAD_OFFSET = 163840,  /* the player's size: where the payload begins */
  QUIRA_HEADER_BYTES = 12,
  QUIRA_BLOCK_BYTES = 1440,
  QUIRA_BUFFER_SAMPLES = 5760,    /* one block, one buffer the player hands its device */
  QUIRA_SAMPLE_RATE = 16000,
  QUIRA_EFFECT_CODE_MAX = 16,
  QUIRA_TITLE_CHARS = 40          /* the player's title buffer, terminator included */
};

typedef enum QuiraStatus {
  QUIRA_OK = 0,
  QUIRA_ERR_ARGUMENT = 1,     /* a null pointer or a value out of range was passed */
  QUIRA_ERR_MEMORY = 2,       /* memory could not be allocated */
  QUIRA_ERR_READ = 3,         /* the carrier could not be opened or read */
  QUIRA_ERR_NOT_CARRIER = 4,  /* shorter than the player a carrier begins with */
  QUIRA_ERR_NOT_FRAMES = 5,   /* no MPEG frames of an accepted format there */
  QUIRA_ERR_STATE = 6,        /* the call does not fit the object's state */
  QUIRA_ERR_NO_SAMPLES = 7,   /* maker: the recording holds no samples */
  QUIRA_ERR_TOO_LONG = 8,     /* maker: the recording is longer than a carrier can hold */
  QUIRA_ERR_RATE = 9,         /* maker: the sampling rate or channel count is refused */
  QUIRA_ERR_ENCODER = 10,     /* maker: the encoder failed or made frames a carrier cannot hold */
  QUIRA_ERR_DECODER = 11,     /* the MPEG decoder could not be set up */
  QUIRA_ERR_TOO_SHORT = 12    /* maker: samples, but too few for one sample at 16 kHz */
} QuiraStatus;

/* A sentence for a status, never null. */
QUIRA_API const char* quira_status_text(int status);

/* The library's version, "MAJOR.MINOR.PATCH", the decoder build it decodes with, and the
 * resampler and encoder builds it makes carriers with ("" in a build without the maker). */
QUIRA_API const char* quira_version(void);
QUIRA_API const char* quira_decoder_version(void);
QUIRA_API const char* quira_maker_version(void);

/* ---- Carriers --------------------------------------------------------------------------- */

typedef struct QuiraCarrier QuiraCarrier;

/* Where a carrier's bytes come from: read up to n bytes at offset into buffer and return how
 * many were read (0 at or past the end, -1 on a read error). size is the carrier's length. */
typedef struct QuiraSource {
  void* context;
  int64_t (*read_at)(void* context, int64_t offset, void* buffer, int32_t n);
  int64_t size;
} QuiraSource;

/* Opens the carrier at path (a regular file). QUIRA_ERR_READ when it cannot be read,
 * QUIRA_ERR_NOT_CARRIER when it is shorter than the player. */
QUIRA_API int quira_carrier_open_path(const char* path, QuiraCarrier** carrier);
/* Opens a carrier held in memory; the bytes are not copied and must outlive the carrier. */
QUIRA_API int quira_carrier_open_memory(const void* bytes, size_t size, QuiraCarrier** carrier);
/* Opens a carrier read through source (copied; its context must outlive the carrier). */
QUIRA_API int quira_carrier_open_source(const QuiraSource* source, QuiraCarrier** carrier);
QUIRA_API void quira_carrier_close(QuiraCarrier* carrier);

/* The carrier's raw bytes: up to n at offset into buffer. Returns how many (0 at the end), or -1
 * on a read error. */
QUIRA_API int64_t quira_carrier_read(QuiraCarrier* carrier, int64_t offset, void* buffer, int32_t n);

/* What the header says, without decoding anything. */
typedef struct QuiraHeaderFacts {
  int64_t payload_bytes;      /* file length less the player */
  uint8_t header[QUIRA_HEADER_BYTES];
  int32_t header_bytes_read;  /* how many of the 12 the file holds; the rest read as 0 */
  int32_t effect_code;        /* header byte 10, signed */
  int32_t effect_known;       /* 1 when the code plays an effect or is 0 */
  int32_t level_byte;         /* header byte 11 */
  int32_t effect_level;       /* 127 - level byte as a signed byte: the effect's weight of 128 */
  int64_t blocks;             /* 1,440-byte blocks, the short last one included */
  int32_t last_block_bytes;   /* 0 when there are no blocks */
  int32_t has_voice_mark;     /* header bytes 0-9 hold a voice mark */
  uint32_t voice_samples;     /* the voice's length at 16 kHz from block 1, when marked */
  int32_t total_seconds;      /* the length the player's title shows */
  int32_t player_ours;        /* the front part is a player built by this project */
  uint8_t player_sha256[32];  /* SHA-256 of the front part */
} QuiraHeaderFacts;

QUIRA_API int quira_carrier_header(QuiraCarrier* carrier, QuiraHeaderFacts* facts);

/* What decoding every block once, in order, as playback from the start does, finds. */
typedef struct QuiraSurvey {
  int32_t format;          /* format of block 0: 0 8 kbit/s 8 kHz, 1 16 kbit/s, 2 32 kbit/s, -1 */
  int32_t mixed_formats;   /* a later block's first header names another format */
  int64_t decoded_blocks;
  int64_t failed_blocks;   /* played as silence */
} QuiraSurvey;

/* Surveys the carrier. failed, when not null, receives the indices of the first max_failed
 * blocks that fail. */
QUIRA_API int quira_carrier_survey(QuiraCarrier* carrier, QuiraSurvey* survey, int64_t* failed,
                                   size_t max_failed);

/* Format facts by format index 0 to 2: a name, the bit rate in kbit/s, the sampling rate. Null
 * (and 0) for other indices. */
QUIRA_API const char* quira_format_name(int format);
QUIRA_API int quira_format_kbps(int format);
QUIRA_API int quira_format_rate(int format);

/* The plain MPEG frames of block k: the block's whole frames unscrambled into frames (room for
 * 1,440 bytes), their byte count in *bytes. QUIRA_ERR_NOT_FRAMES when the block's first header is
 * none of the accepted formats. The frames of every block in order are a stream any MP3 player
 * opens. */
QUIRA_API int quira_carrier_frames(QuiraCarrier* carrier, int64_t block, uint8_t* frames,
                                   int32_t* bytes);

/* ---- Playing: the buffers the player hands its sound device ------------------------------ */

/* The effect to play: the header's, or another for a preview. */
typedef struct QuiraEffectChoice {
  int32_t effect_code;  /* -128 to 127; codes without an effect play dry */
  int32_t level_byte;   /* 0 to 255, as header byte 11: 0 strongest, 127 dry */
} QuiraEffectChoice;

typedef enum QuiraBufferKind {
  QUIRA_BUFFER_START_SILENCE = 0,  /* the two silent buffers queued at every start */
  QUIRA_BUFFER_PRIMING = 1,        /* the first block after a start: silent, run through the effect */
  QUIRA_BUFFER_BLOCK = 2           /* a block heard */
} QuiraBufferKind;

typedef struct QuiraPlayer QuiraPlayer;

/* A player over carrier, which must outlive it. effect null plays the header's effect. It starts
 * idle at block 0, as the Windows player before its first start. */
QUIRA_API int quira_player_new(QuiraCarrier* carrier, const QuiraEffectChoice* effect,
                               QuiraPlayer** player);
QUIRA_API void quira_player_free(QuiraPlayer* player);

/* Play: from the held position (one block back when above 0), or from block 0. QUIRA_ERR_STATE
 * while playing. */
QUIRA_API int quira_player_start(QuiraPlayer* player);
/* The next buffer the player hands its device, exactly as the Windows player fills it, into
 * samples (QUIRA_BUFFER_SAMPLES). Returns 1 with *kind set, or 0 when playback has reached its
 * natural end (the position then returns to block 0) or is not running. Negative: a status. */
QUIRA_API int quira_player_next(QuiraPlayer* player, int16_t* samples, int32_t* kind);
/* Stop: halts playback and holds the position; while stopped, rewinds to block 0. */
QUIRA_API void quira_player_stop(QuiraPlayer* player);
/* Moves the held position of a stopped player to block (clamped to the message): the next start
 * primes with the block before it and is heard from it. QUIRA_ERR_STATE while playing. */
QUIRA_API int quira_player_seek(QuiraPlayer* player, int64_t block);
/* 1 while playing. */
QUIRA_API int quira_player_playing(const QuiraPlayer* player);
/* The block counter: index of the next block to read, as the title reckons elapsed time. */
QUIRA_API int64_t quira_player_position(const QuiraPlayer* player);
/* The title the Windows player shows now, "Quira [00:01:00]-[00:01:05]", into title
 * (QUIRA_TITLE_CHARS). */
QUIRA_API void quira_player_title(const QuiraPlayer* player, char* title);

/* The title text for an elapsed position in blocks and a total in seconds. */
QUIRA_API void quira_title_text(int64_t blocks, int32_t total_seconds, char* title);
/* A clock "HH:MM:SS" (hours widen past 99) into clock (at least 16 characters). */
QUIRA_API void quira_clock_text(int32_t seconds, char* clock);

/* ---- The message as heard --------------------------------------------------------------- */

typedef struct QuiraHeard QuiraHeard;

/* The message as a listener hears it: from the first audible block to the end of the voice (the
 * voice mark's length; without one, the end of the last block), with the effect, followed by the
 * effect's tail rung out until it falls silent or 6 seconds have passed. */
QUIRA_API int quira_heard_open(QuiraCarrier* carrier, const QuiraEffectChoice* effect,
                               QuiraHeard** heard);
/* Reads up to max samples; returns how many (0 at the end), or a negative status. */
QUIRA_API int64_t quira_heard_read(QuiraHeard* heard, int16_t* samples, int64_t max);
QUIRA_API void quira_heard_close(QuiraHeard* heard);

/* A canonical 44-byte WAV header for samples 16-bit mono samples at 16,000 Hz. 0 when the data
 * would not fit a WAV file's 32-bit sizes. */
QUIRA_API int quira_wav_header(int64_t samples, uint8_t header[44]);

/* ---- Effects ---------------------------------------------------------------------------- */

typedef struct QuiraEffect {
  int32_t code;
  const char* name;         /* short, lower case, no spaces */
  const char* family;       /* "reverb", "swept-delay" or "pitch-shift" */
  const char* description;
} QuiraEffect;

/* The effect of a code from 1 to QUIRA_EFFECT_CODE_MAX, else null. */
QUIRA_API const QuiraEffect* quira_effect(int code);
/* The code named by text (a name, "none", or a decimal code), or -1. */
QUIRA_API int quira_effect_find(const char* text);

/* ---- Making a carrier ------------------------------------------------------------------- */

typedef struct QuiraMakeOptions {
  int32_t effect_code;      /* 0 to QUIRA_EFFECT_CODE_MAX */
  int32_t effect_level;     /* -128 to 127: the effect's weight of 128 (stored as 127 - level) */
  int32_t bitrate_kbps;     /* 32 or 16 */
  int64_t declared_frames;  /* the recording's length in sample frames when known, else -1 */
} QuiraMakeOptions;

/* The longest voice a carrier holds, in samples at 16 kHz: what the voice mark's 32 bits count
 * (74 h 33 min 55 s). A longer declared length is refused by quira_maker_new, a recording that
 * runs past it by the write that does. */
#define QUIRA_VOICE_SAMPLES_MAX 4294967295LL

typedef struct QuiraMaker QuiraMaker;

/* A maker for a recording at rate Hz with channels interleaved channels (mixed to their mean).
 * QUIRA_ERR_TOO_LONG when its declared length is beyond QUIRA_VOICE_SAMPLES_MAX. */
QUIRA_API int quira_maker_new(double rate, int32_t channels, const QuiraMakeOptions* options,
                              QuiraMaker** maker);
/* Feeds frames sample frames, full scale +-1. A sample that is not a number (NaN) becomes
 * silence; one beyond full scale, infinity included, is clipped to it; both are counted. The
 * encoder only ever sees finite samples within full scale. */
QUIRA_API int quira_maker_write(QuiraMaker* maker, const float* interleaved, int64_t frames);
/* Ends the recording: flushes the resampler and encoder and checks every frame.
 * QUIRA_ERR_NO_SAMPLES for a recording of no samples, QUIRA_ERR_TOO_SHORT for one whose samples
 * resample to none. */
QUIRA_API int quira_maker_finish(QuiraMaker* maker);
/* After finish: the carrier's length in bytes, and its bytes from offset (the player, the
 * header, the scrambled blocks). Returns how many were copied. */
QUIRA_API int64_t quira_maker_size(const QuiraMaker* maker);
QUIRA_API int64_t quira_maker_read(const QuiraMaker* maker, int64_t offset, void* buffer,
                                   int64_t n);
/* The voice's length in 16 kHz samples so far; the sample frames taken; the samples that were
 * not numbers, made silent; the samples beyond full scale, clipped. */
QUIRA_API int64_t quira_maker_voice_samples(const QuiraMaker* maker);
QUIRA_API int64_t quira_maker_input_frames(const QuiraMaker* maker);
QUIRA_API int64_t quira_maker_not_numbers(const QuiraMaker* maker);
QUIRA_API int64_t quira_maker_clipped(const QuiraMaker* maker);
QUIRA_API void quira_maker_free(QuiraMaker* maker);

/* The player image this library puts in front of the carriers it makes. */
QUIRA_API const uint8_t* quira_player_image(size_t* size);

#ifdef __cplusplus
}
#endif

#endif
