/* SPDX-License-Identifier: MIT */
/** @file quira.h
 * libquira: reading, playing and making Quira voice messages.
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
 * - One convention for every call: a function that can fail returns a QuiraStatus, QUIRA_OK (0)
 *   on success and a negative code on failure; a function that counts returns the count (0 or
 *   more) or a negative QuiraStatus. quira_status_text gives a sentence for each status. Only
 *   plain queries that cannot fail (the version texts, the effect table, the format facts)
 *   return their value directly.
 * - Every output buffer comes with its capacity, in elements of its type. A capacity too small
 *   for what the call must write is QUIRA_ERR_CAPACITY, and nothing is written.
 * - Every struct passed by pointer begins with struct_size, which the caller sets to
 *   sizeof(the struct) (for instance `QuiraHeaderFacts facts = {.struct_size = sizeof facts};`).
 *   Later versions only add fields at the end: the library reads and writes only the fields
 *   that both sides know, and a struct_size below this version's is QUIRA_ERR_ARGUMENT.
 *   Structs the library hands out by pointer (QuiraEffect) only grow at the end.
 * - The effect level is one number everywhere: the signed weight out of 128 with which the
 *   player mixes the effect into the voice, from QUIRA_LEVEL_MIN to QUIRA_LEVEL_MAX (0 the dry
 *   voice, 64 half effect, 127 almost only the effect, negative levels subtract it). A carrier
 *   stores it as its level byte, 127 - level modulo 256, which QuiraHeaderFacts also shows.
 * - No hidden global state. Objects are independent and may be used from different threads at
 *   the same time; one object is used by one thread at a time. A carrier is shared: any number
 *   of players and heard streams over one carrier may run on different threads at once. They
 *   then read the carrier at once: a carrier opened from a path, a descriptor or memory allows
 *   that; a QuiraSource's read_at is then called from those threads at once and must allow it
 *   too (as pread does), or the caller keeps every object over that carrier on one thread.
 * - Samples are signed 16-bit, mono, 16,000 Hz.
 * - Memory stays bounded by a constant for every reader, whatever the carrier's length.
 *
 * Versions: a client built against MAJOR.MINOR runs with any library of the same major version
 * and the same or a later minor one (QUIRA_VERSION_CHECK() says so at run time); the shared
 * library's soname carries the major version, libquira.so.1.
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

/** The version of this header. */
#define QUIRA_VERSION_MAJOR 1
#define QUIRA_VERSION_MINOR 0
#define QUIRA_VERSION_PATCH 0
/** MAJOR * 10000 + MINOR * 100 + PATCH, as quira_version_number returns it. */
#define QUIRA_VERSION_NUMBER 10000

/** The longest voice a carrier holds, in samples at 16 kHz: what the voice mark's 32 bits count
 * (74 h 33 min 55 s). A longer declared length is refused by quira_maker_new, a recording that
 * runs past it by the write that does. */
#define QUIRA_VOICE_SAMPLES_MAX 4294967295LL

/** Layout and sizes. */
enum {
  QUIRA_PAYLOAD_OFFSET = 163840,  /**< the player's size: where the payload begins */
  QUIRA_HEADER_BYTES = 12,        /**< the payload header */
  QUIRA_HEADER_EFFECT_BYTE = 10,  /**< the header byte holding the effect code */
  QUIRA_HEADER_LEVEL_BYTE = 11,   /**< the header byte holding the level byte */
  QUIRA_BLOCK_BYTES = 1440,       /**< one block; also room for any block's plain frames */
  QUIRA_BUFFER_SAMPLES = 5760,    /**< one block, one buffer the player hands its device */
  QUIRA_SAMPLE_RATE = 16000,
  QUIRA_EFFECT_CODE_MAX = 16,     /**< effects have codes 1 to this; 0 is none */
  QUIRA_LEVEL_MIN = -128,         /**< the effect level: the effect's signed weight of 128 */
  QUIRA_LEVEL_MAX = 127,
  QUIRA_LEVEL_DEFAULT = 64,       /**< half effect, half voice: quira make's level */
  QUIRA_TITLE_CHARS = 40,         /**< room for the player's title, terminator included */
  QUIRA_CLOCK_CHARS = 16,         /**< room for any clock text, terminator included */
  QUIRA_WAV_HEADER_BYTES = 44,
  QUIRA_SHA256_BYTES = 32
};

/** Every call's outcome: 0 success, negative failure. */
typedef enum QuiraStatus {
  QUIRA_OK = 0,
  QUIRA_ERR_ARGUMENT = -1,     /**< a null pointer or a value out of range was passed */
  QUIRA_ERR_MEMORY = -2,       /**< memory could not be allocated */
  QUIRA_ERR_READ = -3,         /**< the carrier could not be opened or read */
  QUIRA_ERR_NOT_CARRIER = -4,  /**< shorter than the player a carrier begins with */
  QUIRA_ERR_NOT_FRAMES = -5,   /**< no MPEG frames of an accepted format there */
  QUIRA_ERR_STATE = -6,        /**< the call does not fit the object's state */
  QUIRA_ERR_NO_SAMPLES = -7,   /**< maker: the recording holds no samples */
  QUIRA_ERR_TOO_LONG = -8,     /**< maker: the recording is longer than a carrier can hold */
  QUIRA_ERR_RATE = -9,         /**< maker: the sampling rate or channel count is refused */
  QUIRA_ERR_ENCODER = -10,     /**< maker: the encoder failed or made frames a carrier cannot hold */
  QUIRA_ERR_DECODER = -11,     /**< the MPEG decoder could not be set up */
  QUIRA_ERR_TOO_SHORT = -12,   /**< maker: samples, but too few for one sample at 16 kHz */
  QUIRA_ERR_NOT_FILE = -13,    /**< the path or descriptor is not a regular file */
  QUIRA_ERR_CAPACITY = -14,    /**< an output buffer is too small for what the call writes */
  QUIRA_ERR_VERSION = -15,     /**< this library cannot serve a client built for that version */
  QUIRA_ERR_WAV_LIMIT = -16,   /**< too many samples for a WAV file's 32-bit sizes (4 GiB) */
  QUIRA_ERR_DAMAGED = -17      /**< a web message whose payload text is not whole base64 */
} QuiraStatus;

/** A sentence for a status, never null ("unknown status" for a value that is none). */
QUIRA_API const char* quira_status_text(int32_t status);

/** The library's version, "MAJOR.MINOR.PATCH" (with "-N-gHASH" in a build between releases);
 * the decoder build it decodes with; the resampler and encoder builds it makes carriers with
 * ("" in a build without the maker). */
QUIRA_API const char* quira_version(void);
QUIRA_API const char* quira_decoder_version(void);
QUIRA_API const char* quira_maker_version(void);
/** The library's QUIRA_VERSION_NUMBER. */
QUIRA_API int32_t quira_version_number(void);
/** QUIRA_OK when this library serves a client built against the header of version
 * major.minor: the same major version, a minor version at least minor. Else QUIRA_ERR_VERSION. */
QUIRA_API QuiraStatus quira_version_check(int32_t major, int32_t minor);
/** Whether the library loaded serves this client. */
#define QUIRA_VERSION_CHECK() quira_version_check(QUIRA_VERSION_MAJOR, QUIRA_VERSION_MINOR)

/* ---- Carriers --------------------------------------------------------------------------- */

typedef struct QuiraCarrier QuiraCarrier;

/** What a path or descriptor named, as quira_carrier_open_path and _fd report it. */
typedef enum QuiraFileKind {
  QUIRA_FILE_UNKNOWN = 0,           /**< not looked at (it could not be opened) */
  QUIRA_FILE_REGULAR = 1,
  QUIRA_FILE_DIRECTORY = 2,
  QUIRA_FILE_FIFO = 3,
  QUIRA_FILE_CHARACTER_DEVICE = 4,
  QUIRA_FILE_BLOCK_DEVICE = 5,
  QUIRA_FILE_OTHER = 6              /**< a socket or another kind */
} QuiraFileKind;

/** What opening a file found, failed or not. */
typedef struct QuiraOpenReport {
  uint32_t struct_size;
  int32_t system_error;  /**< the errno of a failed open, stat or read; 0 when none failed */
  int32_t file_kind;     /**< a QuiraFileKind */
  int64_t file_bytes;    /**< the file's length; -1 when it is not known */
} QuiraOpenReport;

/** Where a carrier's bytes come from: read_at reads up to n bytes at offset into buffer and
 * returns how many were read (0 at or past the end), or a negative number on a read error; a
 * count above n is taken as n. length is the carrier's length in bytes. See the rules above for read_at and threads. */
typedef struct QuiraSource {
  uint32_t struct_size;
  void* context;
  int64_t (*read_at)(void* context, int64_t offset, void* buffer, int32_t n);
  int64_t length;
} QuiraSource;

/** Opens the carrier at path, a regular file, without waiting: a FIFO or device is refused at
 * once, never read. QUIRA_ERR_READ when it cannot be opened or read, QUIRA_ERR_NOT_FILE when it
 * is no regular file, QUIRA_ERR_NOT_CARRIER when it is shorter than the player. report, when
 * not null, receives the system error, the kind of file and its length, on success too. */
QUIRA_API QuiraStatus quira_carrier_open_path(const char* path, QuiraCarrier** carrier,
                                              QuiraOpenReport* report);
/** Opens the carrier that the open descriptor fd reads, as quira_carrier_open_path does. The
 * descriptor is duplicated: the caller keeps its own, to close when it likes. */
QUIRA_API QuiraStatus quira_carrier_open_fd(int fd, QuiraCarrier** carrier, QuiraOpenReport* report);
/** Opens a carrier held in memory; the bytes are not copied and must outlive the carrier. */
QUIRA_API QuiraStatus quira_carrier_open_memory(const void* bytes, size_t size,
                                                QuiraCarrier** carrier);
/** Opens a carrier read through source (copied; its context must outlive the carrier). */
QUIRA_API QuiraStatus quira_carrier_open_source(const QuiraSource* source, QuiraCarrier** carrier);
QUIRA_API void quira_carrier_close(QuiraCarrier* carrier);

/** The carrier's raw bytes: up to capacity at offset into buffer. Returns how many were read
 * (0 at the end), or QUIRA_ERR_READ. */
QUIRA_API int64_t quira_carrier_read(QuiraCarrier* carrier, int64_t offset, void* buffer,
                                     size_t capacity);

/** What the header and the front part say. */
typedef struct QuiraHeaderFacts {
  uint32_t struct_size;
  int64_t payload_bytes;      /**< file length less the player */
  uint8_t header[QUIRA_HEADER_BYTES];
  int32_t header_bytes_read;  /**< how many of the 12 the file holds; the rest read as 0 */
  int32_t effect_code;        /**< header byte 10, signed */
  int32_t effect_known;       /**< 1 when the code plays an effect or is 0 */
  int32_t effect_level;       /**< the effect level the carrier plays with */
  int32_t level_byte;         /**< header byte 11, which stores it: 127 - level modulo 256 */
  int64_t blocks;             /**< 1,440-byte blocks, the short last one included */
  int32_t last_block_bytes;   /**< 0 when there are no blocks */
  int32_t has_voice_mark;     /**< header bytes 0-9 hold a voice mark */
  uint32_t voice_samples;     /**< the voice's length at 16 kHz from block 1, when marked */
  int32_t total_seconds;      /**< the length the player's title shows */
  int32_t player_ours;        /**< the front part is a player built by this project */
  uint8_t player_sha256[QUIRA_SHA256_BYTES];  /**< SHA-256 of the front part */
  int32_t web_message;        /**< read from a web message: the front part is known by its digest */
} QuiraHeaderFacts;

/** Fills facts (facts->struct_size set by the caller). It decodes nothing, but reads and hashes
 * the whole front part (163,840 bytes) to recognise the player. */
QUIRA_API QuiraStatus quira_carrier_header(QuiraCarrier* carrier, QuiraHeaderFacts* facts);

/** What decoding every block once, in order, as playback from the start does, finds. */
typedef struct QuiraSurvey {
  uint32_t struct_size;
  int32_t format;          /**< format of block 0: 0 8 kbit/s 8 kHz, 1 16 kbit/s, 2 32 kbit/s, -1 */
  int32_t mixed_formats;   /**< a later block's first header names another format */
  int64_t decoded_blocks;
  int64_t failed_blocks;   /**< played as silence */
} QuiraSurvey;

/** Surveys the carrier (survey->struct_size set by the caller). failed, when not null, receives
 * the indices of the first capacity blocks that fail; more failures are only counted. */
QUIRA_API QuiraStatus quira_carrier_survey(QuiraCarrier* carrier, QuiraSurvey* survey,
                                           int64_t* failed, size_t capacity);

/** Format facts by format index 0 to 2: a name, the bit rate in kbit/s, the sampling rate. Null
 * (and 0) for other indices. */
QUIRA_API const char* quira_format_name(int32_t format);
QUIRA_API int32_t quira_format_kbps(int32_t format);
QUIRA_API int32_t quira_format_rate(int32_t format);

/** The plain MPEG frames of block k: the block's whole frames unscrambled into frames, at most
 * QUIRA_BLOCK_BYTES. Returns their byte count; QUIRA_ERR_NOT_FRAMES when the block's first
 * header is none of the accepted formats. The frames of every block in order are a stream any
 * MP3 player opens. */
QUIRA_API int32_t quira_carrier_frames(QuiraCarrier* carrier, int64_t block, uint8_t* frames,
                                       size_t capacity);

/* ---- Playing: the buffers the player hands its sound device ------------------------------ */

/** The effect to play: the header's, or another for a preview. */
typedef struct QuiraEffectChoice {
  uint32_t struct_size;
  int32_t effect_code;   /**< -128 to 127; codes without an effect play dry */
  int32_t effect_level;  /**< QUIRA_LEVEL_MIN to QUIRA_LEVEL_MAX */
} QuiraEffectChoice;

typedef enum QuiraBufferKind {
  QUIRA_BUFFER_START_SILENCE = 0,  /**< the two silent buffers queued at every start */
  QUIRA_BUFFER_PRIMING = 1,        /**< the first block after a start: silent, run through the effect */
  QUIRA_BUFFER_BLOCK = 2           /**< a block heard */
} QuiraBufferKind;

typedef struct QuiraPlayer QuiraPlayer;

/** A player over carrier, which must outlive it. effect null plays the header's effect; a choice
 * outside the ranges above is QUIRA_ERR_ARGUMENT. It starts idle at block 0, as the Windows
 * player before its first start. */
QUIRA_API QuiraStatus quira_player_new(QuiraCarrier* carrier, const QuiraEffectChoice* effect,
                                       QuiraPlayer** player);
QUIRA_API void quira_player_free(QuiraPlayer* player);

/** Play: from the held position (one block back when above 0), or from block 0.
 * QUIRA_ERR_STATE while playing. */
QUIRA_API QuiraStatus quira_player_start(QuiraPlayer* player);
/** The next buffer the player hands its device, exactly as the Windows player fills it, into
 * samples (capacity at least QUIRA_BUFFER_SAMPLES). Returns QUIRA_BUFFER_SAMPLES with *kind (when
 * not null) set to a QuiraBufferKind, or 0 when playback has reached its natural end (the
 * position then returns to block 0) or is not running. */
QUIRA_API int32_t quira_player_next(QuiraPlayer* player, int16_t* samples, size_t capacity,
                                    int32_t* kind);
/** Stop: halts playback and holds the position; while stopped, rewinds to block 0. */
QUIRA_API QuiraStatus quira_player_stop(QuiraPlayer* player);
/** Moves the held position of a stopped player to block (clamped to the message): the next
 * start primes with the block before it and is heard from it. QUIRA_ERR_STATE while playing. */
QUIRA_API QuiraStatus quira_player_seek(QuiraPlayer* player, int64_t block);
/** 1 while playing, 0 when not (or for null). */
QUIRA_API int32_t quira_player_playing(const QuiraPlayer* player);
/** The block counter: index of the next block to read, as the title reckons elapsed time. */
QUIRA_API int64_t quira_player_position(const QuiraPlayer* player);
/** How many samples a start from block 0 hands out to the natural end: the two start buffers
 * and one buffer for every block. */
QUIRA_API int64_t quira_player_length(const QuiraPlayer* player);
/** The title the Windows player shows now, "Quira [00:01:00]-[00:01:05]", into title
 * (QUIRA_TITLE_CHARS always suffice). Returns its length, terminator not counted. */
QUIRA_API int32_t quira_player_title(const QuiraPlayer* player, char* title, size_t capacity);

/** The title text for an elapsed position in blocks and a total in seconds; its length. */
QUIRA_API int32_t quira_title_text(int64_t blocks, int32_t total_seconds, char* title,
                                   size_t capacity);
/** A clock "HH:MM:SS" (hours widen past 99) into clock (QUIRA_CLOCK_CHARS always suffice);
 * its length. */
QUIRA_API int32_t quira_clock_text(int32_t seconds, char* clock, size_t capacity);

/* ---- The message as heard --------------------------------------------------------------- */

typedef struct QuiraHeard QuiraHeard;

/** The message as a listener hears it: from the first audible block to the end of the voice
 * (the voice mark's length; without one, the end of the last block), with the effect, followed
 * by the effect's tail rung out until it falls silent or 6 seconds have passed. effect as for
 * quira_player_new. The carrier must outlive it. */
QUIRA_API QuiraStatus quira_heard_open(QuiraCarrier* carrier, const QuiraEffectChoice* effect,
                                       QuiraHeard** heard);
/** Reads up to capacity samples; returns how many (0 at the end). */
QUIRA_API int64_t quira_heard_read(QuiraHeard* heard, int16_t* samples, size_t capacity);
/** The most samples the whole stream can give, known before any is read: every block after
 * the priming one and the longest tail. Reading gives this many or fewer. */
QUIRA_API int64_t quira_heard_bound(const QuiraHeard* heard);
QUIRA_API void quira_heard_close(QuiraHeard* heard);

/** Pass as samples to quira_wav_header for a stream whose length is not known when its header
 * is written (a pipe): the header then declares the largest sizes a WAV file's 32 bits hold,
 * and a reader takes the samples up to the end of the stream. */
#define QUIRA_WAV_OPEN_LENGTH (-1)

/** A canonical 44-byte WAV header for samples 16-bit mono samples at 16,000 Hz, or for an open
 * length (QUIRA_WAV_OPEN_LENGTH). Returns QUIRA_WAV_HEADER_BYTES, or QUIRA_ERR_WAV_LIMIT when
 * the data would not fit a WAV file's 32-bit sizes. */
QUIRA_API int32_t quira_wav_header(int64_t samples, uint8_t* header, size_t capacity);

/* ---- The message as MP3 ------------------------------------------------------------------ */

/** An MP3 encoder for 16 kHz mono samples (the message as heard, say): MPEG-2 Layer III, constant
 * QUIRA_MP3_KBPS, by the LAME this library makes carriers with, so that every build gives the
 * same bytes. The stream begins with an Info frame (a LAME tag) that tells decoders the encoder's
 * delay and padding, so that they give back exactly the samples encoded: write what encode and
 * finish give, then write quira_mp3_info_frame's bytes over the stream's first bytes. A build
 * without the maker has no encoder: quira_mp3_new returns QUIRA_ERR_ENCODER. */
enum { QUIRA_MP3_KBPS = 64 };
typedef struct QuiraMp3 QuiraMp3;
QUIRA_API QuiraStatus quira_mp3_new(QuiraMp3** mp3);
/** Room the bytes of n samples may need. */
#define QUIRA_MP3_BYTES_MAX(n) ((n) + (n) / 4 + 7200)
/** Encodes n samples into out (capacity bytes, QUIRA_MP3_BYTES_MAX(n) always enough); returns the
 * bytes made. */
QUIRA_API int32_t quira_mp3_encode(QuiraMp3* mp3, const int16_t* samples, int32_t n, uint8_t* out,
                                   size_t capacity);
/** Ends the stream: the last frames into out (7,200 bytes are enough); returns their bytes. */
QUIRA_API int32_t quira_mp3_finish(QuiraMp3* mp3, uint8_t* out, size_t capacity);
/** After finish: the Info frame to write over the first bytes, into out; returns its bytes. */
QUIRA_API int32_t quira_mp3_info_frame(QuiraMp3* mp3, uint8_t* out, size_t capacity);
QUIRA_API void quira_mp3_free(QuiraMp3* mp3);

/* ---- Web messages ---------------------------------------------------------------------- */

/** A web message is one HTML page that plays one message: the player page with the payload (the
 * 12-byte header and the blocks, byte for byte) inside it as one run of base64 (RFC 4648, padded,
 * no line breaks), and, as the file's very end, a comment that says where it is:
 *
 *   <!-- quira-message at=000000000123456 bytes=000000000240012 player=<64 hex digits> -->\n
 *
 * at: the file offset of the base64's first character; bytes: the payload's length; player: the
 * SHA-256 of the front part of the carrier the payload came from. The quira_carrier_open_* calls
 * read a web message as that carrier: the payload at QUIRA_PAYLOAD_OFFSET, and the front part
 * known by its digest (quira_carrier_header's player_sha256 and player_ours). Its bytes are the
 * player in this library when the digest is that player's; read elsewhere, they are an error. */
enum { QUIRA_WEB_TRAILER_CHARS = 136 };  /**< the closing comment, its newline included */

/** The closing comment of a web message whose base64 begins at offset at, into trailer (capacity
 * at least QUIRA_WEB_TRAILER_CHARS + 1, with the terminator); player_sha256 holds
 * QUIRA_SHA256_BYTES. Returns its length. */
QUIRA_API int32_t quira_web_trailer(int64_t at, int64_t payload_bytes, const uint8_t* player_sha256,
                                    char* trailer, size_t capacity);

/** Opens a bare payload (what stands behind the player in a carrier) read through payload, as the
 * carrier it came from, whose front part had the digest player_sha256 (QUIRA_SHA256_BYTES; null:
 * this library's player). */
QUIRA_API QuiraStatus quira_carrier_open_payload(const QuiraSource* payload, const uint8_t* player_sha256,
                                                 QuiraCarrier** carrier);

/* ---- Effects ---------------------------------------------------------------------------- */

/** One effect of the library's table, which outlives every caller. */
typedef struct QuiraEffect {
  int32_t code;
  const char* name;         /**< short, lower case, no spaces */
  const char* family;       /**< "reverb", "swept-delay" or "pitch-shift" */
  const char* description;
} QuiraEffect;

/** The effect of a code from 1 to QUIRA_EFFECT_CODE_MAX, else null. */
QUIRA_API const QuiraEffect* quira_effect(int32_t code);
/** The code named by text (a name, "none", or a decimal code): 0 to QUIRA_EFFECT_CODE_MAX, or
 * QUIRA_ERR_ARGUMENT for a text that names none. */
QUIRA_API int32_t quira_effect_find(const char* text);

/* ---- Making a carrier ------------------------------------------------------------------- */

/** What a carrier is made with. */
typedef struct QuiraMakeOptions {
  uint32_t struct_size;
  int32_t effect_code;      /**< 0 to QUIRA_EFFECT_CODE_MAX */
  int32_t effect_level;     /**< QUIRA_LEVEL_MIN to QUIRA_LEVEL_MAX */
  int32_t bitrate_kbps;     /**< 32 or 16 */
  int64_t declared_frames;  /**< the recording's length in sample frames when known, else -1 */
} QuiraMakeOptions;

/** Sets struct_size and the defaults: no effect (level 0), 32 kbit/s, no declared length. */
QUIRA_API QuiraStatus quira_make_options_init(QuiraMakeOptions* options);

typedef struct QuiraMaker QuiraMaker;

/** The sampling rates a maker takes, in Hz: every rate a WAV header can declare. */
#define QUIRA_MAKER_RATE_MIN 1.0
#define QUIRA_MAKER_RATE_MAX 4294967295.0

/** A maker for a recording at rate Hz with channels interleaved channels (mixed to their
 * mean). QUIRA_ERR_ARGUMENT for a rate outside QUIRA_MAKER_RATE_MIN to QUIRA_MAKER_RATE_MAX (or
 * not a number), QUIRA_ERR_RATE for a channel count the maker does not mix, QUIRA_ERR_TOO_LONG
 * when its declared length is beyond QUIRA_VOICE_SAMPLES_MAX. */
QUIRA_API QuiraStatus quira_maker_new(double rate, int32_t channels,
                                      const QuiraMakeOptions* options, QuiraMaker** maker);
/** Feeds frames sample frames, full scale +-1. A sample that is not a number (NaN) becomes
 * silence; one beyond full scale, infinity included, is clipped to it; both are counted. The
 * encoder only ever sees finite samples within full scale. */
QUIRA_API QuiraStatus quira_maker_write(QuiraMaker* maker, const float* interleaved,
                                        int64_t frames);
/** Ends the recording: flushes the resampler and encoder and checks every frame.
 * QUIRA_ERR_NO_SAMPLES for a recording of no samples, QUIRA_ERR_TOO_SHORT for one whose samples
 * resample to none. */
QUIRA_API QuiraStatus quira_maker_finish(QuiraMaker* maker);
/** Changes the effect the carrier's header names, before or after finish: the frames and the
 * voice mark do not depend on it, so one recording gives carriers of every effect. */
QUIRA_API QuiraStatus quira_maker_set_effect(QuiraMaker* maker, const QuiraEffectChoice* effect);
/** After finish: the carrier's length in bytes (QUIRA_ERR_STATE before). */
QUIRA_API int64_t quira_maker_size(const QuiraMaker* maker);
/** After finish: the carrier's bytes from offset (the player, the header, the scrambled
 * blocks), up to capacity. Returns how many were copied (0 at the end). */
QUIRA_API int64_t quira_maker_read(const QuiraMaker* maker, int64_t offset, void* buffer,
                                   size_t capacity);
/** The voice's length in 16 kHz samples so far; the sample frames taken; the samples that were
 * not numbers, made silent; the samples beyond full scale, clipped. */
QUIRA_API int64_t quira_maker_voice_samples(const QuiraMaker* maker);
QUIRA_API int64_t quira_maker_input_frames(const QuiraMaker* maker);
QUIRA_API int64_t quira_maker_not_numbers(const QuiraMaker* maker);
QUIRA_API int64_t quira_maker_clipped(const QuiraMaker* maker);
QUIRA_API void quira_maker_free(QuiraMaker* maker);

/** The player this library puts in front of the carriers it makes, and its length in *size. */
QUIRA_API const uint8_t* quira_embedded_player(size_t* size);
/** Its SHA-256, the digest quira_carrier_header finds for a front part that is this player,
 * into digest (capacity at least QUIRA_SHA256_BYTES). */
QUIRA_API QuiraStatus quira_embedded_player_sha256(uint8_t* digest, size_t capacity);

#ifdef __cplusplus
}
#endif

#endif
