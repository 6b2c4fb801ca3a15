// SPDX-License-Identifier: MIT
// The quira command at its edges, given what a hostile or careless user gives it: recordings with
// samples that are no numbers or far beyond full scale, lengths at the bounds, standard input
// that never ends, FIFOs and devices where files belong, output names that are FIFOs, devices or
// symbolic links, file names that are not UTF-8. Each case runs the real binary; a command that
// would block is run under timeout, so a regression fails rather than hangs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <math.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/media.h"
#include "tests/tool_run.h"

namespace {

const std::string SPEECH = "/usr/share/sounds/alsa/Front_Center.wav";

int sh(const std::string& command) {
  int status = system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string text_of(const std::string& path) {
  std::vector<uint8_t> bytes = read_bytes(path);
  return std::string(bytes.begin(), bytes.end());
}

void put_le(std::vector<uint8_t>& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; i++) out.push_back((uint8_t)(value >> (8 * i)));
}

// A WAV file's header: format 1 (PCM) or 3 (IEEE float), data_bytes of data following.
std::vector<uint8_t> wav_header(int format, int channels, uint32_t rate, int bits, uint32_t data_bytes) {
  std::vector<uint8_t> h = {'R', 'I', 'F', 'F'};
  put_le(h, 36 + data_bytes, 4);
  h.insert(h.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  put_le(h, 16, 4);
  put_le(h, (uint32_t)format, 2);
  put_le(h, (uint32_t)channels, 2);
  put_le(h, rate, 4);
  put_le(h, rate * (uint32_t)(channels * bits / 8), 4);
  put_le(h, (uint32_t)(channels * bits / 8), 2);
  put_le(h, (uint32_t)bits, 2);
  h.insert(h.end(), {'d', 'a', 't', 'a'});
  put_le(h, data_bytes, 4);
  return h;
}

void write_float_wav(const std::string& path, const std::vector<float>& samples, int channels, uint32_t rate) {
  std::vector<uint8_t> bytes = wav_header(3, channels, rate, 32, (uint32_t)(samples.size() * 4));
  const uint8_t* raw = (const uint8_t*)samples.data();
  bytes.insert(bytes.end(), raw, raw + samples.size() * 4);
  write_file(path, bytes);
}

// The speech prompt as 48 kHz mono floats, as sox reads it.
std::vector<float> speech_floats(const std::string& dir) {
  EXPECT_EQ(sh("sox " + SPEECH + " -t f32 " + dir + "/speech.f32"), 0);
  std::vector<uint8_t> bytes = read_bytes(dir + "/speech.f32");
  std::vector<float> samples(bytes.size() / 4);
  memcpy(samples.data(), bytes.data(), samples.size() * 4);
  return samples;
}

// Signal-to-noise ratio of b against a, sample for sample.
double snr_db(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
  double signal = 0, noise = 0;
  for (size_t i = 0; i < a.size() && i < b.size(); i++) {
    signal += (double)a[i] * a[i];
    noise += ((double)a[i] - b[i]) * ((double)a[i] - b[i]);
  }
  return 10 * log10(signal / (noise + 1));
}

// Names in dir that a command could have left behind: temporary files NAME.exe.XXXXXX and the like.
std::vector<std::string> leftovers(const TempDir& dir) {
  std::vector<std::string> left;
  for (const std::string& name : dir.entries())
    for (const char* kind : {".exe.", ".wav.", ".mp3."})
      if (name.size() > 11 && name.compare(name.size() - 11, 5, kind) == 0) left.push_back(name);
  return left;
}

// Runs quira with bytes on its standard input through a pipe, closed after them or, with
// keep_open, left open until quira exits (or 60 s have passed, when it is killed). Returns the
// exit status, -1 when killed.
int quira_with_stdin(const std::string& args, const std::vector<uint8_t>& bytes, bool keep_open,
                     const std::string& err_path) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return -2;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(pipe_fds[0], STDIN_FILENO);
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    execl("/bin/sh", "sh", "-c", (std::string(QUIRA_TOOL) + " " + args + " 2>" + err_path).c_str(), (char*)nullptr);
    _exit(127);
  }
  close(pipe_fds[0]);
  signal(SIGPIPE, SIG_IGN);
  // The writer runs beside the wait: quira takes the bytes as it goes, the pipe holds only 64 KB.
  std::thread writer([&] {
    for (size_t at = 0; at < bytes.size();) {
      ssize_t n = write(pipe_fds[1], bytes.data() + at, bytes.size() - at);
      if (n <= 0) break;
      at += (size_t)n;
    }
    if (!keep_open) close(pipe_fds[1]);
  });
  int status = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      writer.join();
      if (keep_open) close(pipe_fds[1]);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  writer.join();
  if (keep_open) close(pipe_fds[1]);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<int16_t> exported(const std::string& carrier, const std::string& wav) {
  EXPECT_EQ(quira("export --dry " + carrier + " -o " + wav).status, 0) << carrier;
  return samples_of(read_bytes(wav), 44);
}

}  // namespace

// One NaN used to abort inside libmp3lame (exit 134), leaving the temporary output behind;
// infinities and amplitudes of 1e10 did too. Now a NaN becomes silence and whatever is beyond
// full scale is clipped, each with a warning, and the message is made.
TEST(HostileMake, SamplesThatAreNoNumbersOrHugeAreMadeSilentOrClipped) {
  TempDir dir;
  const std::string d = dir.path, err = d + "/err.txt";
  std::vector<float> speech = speech_floats(d);
  ASSERT_GT(speech.size(), 40000u);
  write_float_wav(d + "/clean.wav", speech, 1, 48000);
  ASSERT_EQ(quira("make " + d + "/clean.wav -o " + d + "/clean.exe", err).status, 0);
  EXPECT_EQ(text_of(err), "");
  std::vector<int16_t> clean = exported(d + "/clean.exe", d + "/clean-out.wav");

  std::vector<float> nan = speech;
  for (size_t i : {1000u, 20000u, 20001u, 30000u}) nan[i] = NAN;
  std::vector<float> inf = speech;
  inf[12345] = INFINITY;
  inf[23456] = -INFINITY;
  std::vector<float> huge = speech;
  for (float& s : huge) s *= 1e10f;
  // Stereo, one channel +infinity and the other -infinity on the same frame: their mean would be NaN.
  std::vector<float> stereo;
  for (size_t i = 0; i < speech.size(); i++) {
    stereo.push_back(i == 5000 ? INFINITY : speech[i]);
    stereo.push_back(i == 5000 ? -INFINITY : speech[i]);
  }
  struct Case {
    const char* name;
    const std::vector<float>* samples;
    int channels;
    std::string warning;
  } cases[] = {
      {"nan", &nan, 1, "nan.wav: made silent 4 samples that were not numbers (NaN)\n"},
      {"inf", &inf, 1, "inf.wav: clipped 2 samples beyond full scale\n"},
      {"huge", &huge, 1, "huge.wav: clipped "},
      {"stereo", &stereo, 2, "stereo.wav: clipped 2 samples beyond full scale\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string in = d + "/" + c.name + ".wav", carrier = d + "/" + c.name + ".exe";
    write_float_wav(in, *c.samples, c.channels, 48000);
    Result made = quira("make " + in + " -o " + carrier, err);
    ASSERT_EQ(made.status, 0) << text_of(err);
    std::string said = text_of(err);
    EXPECT_EQ(said.rfind("quira: warning: ", 0), 0u) << said;
    EXPECT_NE(said.find(c.warning), std::string::npos) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    Result info = quira("info --json " + carrier);
    EXPECT_EQ(json_field(info.out, "decoded_blocks"), json_field(info.out, "blocks"));
    std::vector<int16_t> got = exported(carrier, d + "/out.wav");
    ASSERT_EQ(got.size(), clean.size());
    if (c.samples == &huge) {
      // Clipped speech: a loud square-ish wave where the voice is.
      EXPECT_GT(*std::max_element(got.begin(), got.end()), 25000);
    } else {
      // A few samples silent or at full scale leave the message as it was.
      EXPECT_GT(snr_db(clean, got), 15) << "against the clean recording";
    }
  }
  EXPECT_EQ(quira("-q make --force " + d + "/nan.wav -o " + d + "/nan.exe", err).status, 0);
  EXPECT_EQ(text_of(err), "") << "-q silences the warning";

  // A copy cut short after its header: made from what it holds, with a warning that says so.
  std::vector<uint8_t> cut = read_bytes(d + "/clean.wav");
  cut.resize(cut.size() / 2);
  write_file(d + "/cut.wav", cut);
  ASSERT_EQ(quira("make " + d + "/cut.wav -o " + d + "/cut.exe", err).status, 0) << text_of(err);
  EXPECT_NE(text_of(err).find("cut.wav: declares "), std::string::npos) << text_of(err);
  EXPECT_NE(text_of(err).find("(it may have been cut short): the message is made from what it holds\n"), std::string::npos);
  EXPECT_LT(exported(d + "/cut.exe", d + "/cut-out.wav").size(), clean.size() * 6 / 10);
  EXPECT_TRUE(leftovers(dir).empty());
}

// A single sample at 48 kHz resamples to nothing and was said to hold no samples; a WAV of a few
// hundred kilobytes declaring 1 Hz expands to days of voice and took gigabytes before it failed.
TEST(HostileMake, LengthsBeyondWhatACarrierHoldsAreNamed) {
  TempDir dir;
  const std::string d = dir.path, err = d + "/err.txt";
  write_float_wav(d + "/one.wav", {0.5f}, 1, 48000);
  EXPECT_EQ(quira("make " + d + "/one.wav -o " + d + "/one.exe", err).status, 2);
  EXPECT_NE(text_of(err).find("one.wav: too short: 1 sample at 48000 Hz, less than one sample at 16 kHz"),
            std::string::npos) << text_of(err);
  write_float_wav(d + "/three.wav", {0.5f, 0.5f, 0.5f}, 1, 48000);
  EXPECT_EQ(quira("make " + d + "/three.wav -o " + d + "/three.exe").status, 0) << "three make one at 16 kHz";
  EXPECT_EQ(json_field(quira("info --json " + d + "/three.exe").out, "voice_samples"), "1");

  // 300,000 samples at 1 Hz: 83 h 20 min of voice, more than the 32-bit voice mark counts. It
  // is refused from the header, before anything is encoded.
  std::vector<uint8_t> wav = wav_header(1, 1, 1, 16, 600000);
  wav.resize(wav.size() + 600000, 0x10);
  write_file(d + "/slow.wav", wav);
  EXPECT_EQ(sh("timeout 20 " + std::string(QUIRA_TOOL) + " make " + d + "/slow.wav -o " + d + "/slow.exe 2>" + err), 2);
  EXPECT_EQ(text_of(err),
            "quira: error: " + d +
                "/slow.wav: too long: 83:20:00 of voice, and a carrier holds at most 74:33:55 (its voice mark "
                "counts samples at 16 kHz in 32 bits)\n");
  std::vector<std::string> left = dir.entries();
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"err.txt", "one.wav", "slow.wav", "three.exe", "three.wav"}));
}

// Standard input was read whole into memory before anything else (an hour of 48 kHz stereo:
// 1 GB). It streams now: a WAV whose pipe stays open after its samples is made without waiting
// for the end of the pipe, and formats libsndfile cannot read from a pipe are refused by name.
TEST(HostileMake, StandardInputAndNamedPipesStream) {
  TempDir dir;
  const std::string d = dir.path, err = d + "/err.txt";
  ASSERT_EQ(
      sh("sox " + SPEECH + " " + d + "/s.au && sox " + SPEECH + " " + d + "/s.ogg && sox " + SPEECH + " " + d +
         "/s.flac && sox " + SPEECH + " " + d + "/s.caf && sox -M " + SPEECH + " " + SPEECH + " " + d + "/st.wav"),
      0);
  for (const char* name : {"st.wav", "s.au", "s.ogg"}) {
    SCOPED_TRACE(name);
    const std::string in = d + "/" + name;
    ASSERT_EQ(quira("make --force " + in + " -o " + d + "/file.exe").status, 0);
    // Ogg declares no length: its stream ends with the pipe.
    bool declared = std::string(name) != "s.ogg";
    EXPECT_EQ(quira_with_stdin("make --force - -o " + d + "/pipe.exe", read_bytes(in), declared, err), 0)
        << text_of(err);
    EXPECT_TRUE(read_bytes(d + "/pipe.exe") == read_bytes(d + "/file.exe"));
  }
  // A named pipe is a stream too; make waits for its writer.
  ASSERT_EQ(mkfifo((d + "/fifo").c_str(), 0600), 0);
  ASSERT_EQ(sh("(sleep 0.3; timeout 20 sh -c 'cat " + d + "/st.wav > " + d + "/fifo') & timeout 20 " + QUIRA_TOOL +
               " make " + d + "/fifo -o " + d + "/fifo.exe; s=$?; wait; exit $s"),
            0);
  ASSERT_EQ(quira("make --force " + d + "/st.wav -o " + d + "/file.exe").status, 0);
  EXPECT_TRUE(read_bytes(d + "/fifo.exe") == read_bytes(d + "/file.exe"));
  // From a pipe libsndfile fails on FLAC and reads CAF as empty; both are refused with the reason.
  for (auto [name, says] :
       {std::pair{"s.flac", "FLAC, CAF, RF64 and other formats that must seek are read only from a file"},
        std::pair{"s.caf", "CAF (Apple Core Audio File) cannot be read from a pipe"}}) {
    EXPECT_EQ(quira_with_stdin("make - -o " + d + "/no.exe", read_bytes(d + "/" + name), false, err), 2) << name;
    std::string said = text_of(err);
    EXPECT_NE(said.find(says), std::string::npos) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
  }
  // Redirected from a file, standard input is that file, FLAC and all.
  EXPECT_EQ(quira("make - -o " + d + "/r.exe < " + d + "/s.flac").status, 0);
  EXPECT_EQ(access((d + "/no.exe").c_str(), F_OK), -1);
  EXPECT_TRUE(leftovers(dir).empty());
}

// A FIFO as a carrier used to block info, export, extract, play and repack for ever in the open
// call; a device is no carrier either. Both are refused at once.
TEST(HostileInput, FifosAndDevicesAreRefusedWithoutWaiting) {
  TempDir dir;
  const std::string d = dir.path, err = d + "/err.txt";
  ASSERT_EQ(mkfifo((d + "/c.exe").c_str(), 0600), 0);
  const std::vector<std::string> inputs = {d + "/c.exe", "/dev/null", "/dev/zero"};
  const std::vector<std::string> commands = {"info", "info --json", "export -o " + d + "/o.wav",
                                             "export --as-played -o " + d + "/o.wav", "extract -o " + d + "/o.mp3",
                                             "play", "repack -o " + d + "/o.exe"};
  for (const std::string& input : inputs)
    for (const std::string& command : commands) {
      SCOPED_TRACE(command + " " + input);
      int status =
          sh("timeout 20 " + std::string(QUIRA_TOOL) + " " + command + " " + input + " </dev/null >/dev/null 2>" + err);
      EXPECT_EQ(status, 2);
      std::string said = text_of(err);
      EXPECT_EQ(said.rfind("quira: error: " + input + ": a ", 0), 0u) << said;
      EXPECT_NE(said.find("not a regular file"), std::string::npos) << said;
      EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    }
  std::vector<std::string> left = dir.entries();
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"c.exe", "err.txt"}));
}

// info --json printed a file name's bytes as they were, and a name that is not UTF-8 made the
// output invalid JSON. Such bytes are now U+FFFD; the output parses whatever the name.
TEST(HostileInfo, JsonParsesWhateverTheFileName) {
  TempDir dir;
  struct Name {
    std::string bytes;
    std::string parsed;  // the "file" value as a JSON parser gives it, less the directory
  } names[] = {
      {"plain.exe", "plain.exe"},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xa4.exe", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xa4.exe"},
      {"latin1-\xe9t\xe9.exe", "latin1-\xef\xbf\xbdt\xef\xbf\xbd.exe"},
      {"cut-\xc3.exe", "cut-\xef\xbf\xbd.exe"},
      {"overlong-\xc0\xaf.exe", "overlong-\xef\xbf\xbd\xef\xbf\xbd.exe"},
      {"surrogate-\xed\xa0\x80.exe", "surrogate-\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd.exe"},
      {"beyond-\xf4\x90\x80\x80.exe", "beyond-\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd.exe"},
      {"quote\"back\\slash\x01.exe", "quote\"back\\slash\x01.exe"},
  };
  const std::vector<uint8_t> carrier = read_bytes(media_path("speech-8.exe"));
  ASSERT_FALSE(carrier.empty());
  std::string jsons;
  for (size_t i = 0; i < std::size(names); i++) {
    std::string path = dir.path + "/" + names[i].bytes, json = dir.path + "/info-" + std::to_string(i);
    write_file(path, carrier);
    // The shell gets the name through the environment: no quoting of its bytes.
    setenv("QUIRA_NAME", path.c_str(), 1);
    ASSERT_EQ(sh(std::string(QUIRA_TOOL) + " info --json \"$QUIRA_NAME\" > " + json), 0) << names[i].bytes;
    unlink(path.c_str());
    jsons += " " + json;
  }
  // Python's strict UTF-8 decoding and JSON parser, once for all; each file name goes back as
  // UTF-8 into FILE.name, or the error into FILE.name when the output does not parse.
  ASSERT_EQ(sh("python3 -c 'import json,sys\n"
               "for p in sys.argv[1:]:\n"
               "  try: n = json.loads(open(p,\"rb\").read().decode(\"utf-8\"))[\"file\"]\n"
               "  except Exception as e: n = \"invalid: \" + str(e)\n"
               "  open(p + \".name\",\"wb\").write(n.encode(\"utf-8\"))' " + jsons),
            0);
  for (size_t i = 0; i < std::size(names); i++)
    EXPECT_EQ(text_of(dir.path + "/info-" + std::to_string(i) + ".name"), dir.path + "/" + names[i].parsed)
        << "for " << names[i].bytes << ": " << text_of(dir.path + "/info-" + std::to_string(i));
  unsetenv("QUIRA_NAME");
}

// -o naming a FIFO, a device or a symbolic link: the temporary file's rename used to put a
// regular file in its place (as root, over /dev/null). A FIFO or device is written to; a link is
// followed and the file it names replaced, in that file's directory.
TEST(HostileOutput, FifosDevicesAndLinksAreWrittenThroughNotReplaced) {
  TempDir dir;
  const std::string d = dir.path, carrier = media_path("speech-8.exe");
  ASSERT_EQ(quira("export " + carrier + " -o " + d + "/plain.wav").status, 0);
  const std::vector<uint8_t> expected = read_bytes(d + "/plain.wav");
  ASSERT_GT(expected.size(), 44u);
  struct stat st;

  ASSERT_EQ(mkfifo((d + "/fifo").c_str(), 0600), 0);
  ASSERT_EQ(sh("timeout 20 sh -c 'cat " + d + "/fifo > " + d + "/drained' & " + QUIRA_TOOL + " export " + carrier +
               " -o " + d + "/fifo; s=$?; wait; exit $s"),
            0);
  ASSERT_EQ(lstat((d + "/fifo").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "the FIFO is still a FIFO";
  EXPECT_TRUE(read_bytes(d + "/drained") == streamed_wav(expected)) << "and its reader got the stream";

  // A link to a file, through a relative path in another directory: the link stays, the file
  // is replaced and keeps its permissions.
  ASSERT_EQ(mkdir((d + "/sub").c_str(), 0755), 0);
  write_file(d + "/sub/real.wav", {'o', 'l', 'd'});
  chmod((d + "/sub/real.wav").c_str(), 0640);
  ASSERT_EQ(symlink("sub/real.wav", (d + "/link.wav").c_str()), 0);
  ASSERT_EQ(quira("export " + carrier + " -o " + d + "/link.wav").status, 0);
  ASSERT_EQ(lstat((d + "/link.wav").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link is still a link";
  EXPECT_TRUE(read_bytes(d + "/sub/real.wav") == expected);
  ASSERT_EQ(stat((d + "/sub/real.wav").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  // make and repack see through the link: the file it names exists.
  EXPECT_EQ(quira("repack " + carrier + " -o " + d + "/link.wav").status, 2);
  EXPECT_TRUE(read_bytes(d + "/sub/real.wav") == expected);
  // A dangling link is followed to the file it names, which is made.
  ASSERT_EQ(symlink("sub/new.wav", (d + "/dangling.wav").c_str()), 0);
  ASSERT_EQ(quira("export " + carrier + " -o " + d + "/dangling.wav").status, 0);
  EXPECT_TRUE(read_bytes(d + "/sub/new.wav") == expected);
  ASSERT_EQ(lstat((d + "/dangling.wav").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));

  // A character device: only root can make one, and only root could have had it replaced.
  if (geteuid() == 0 && mknod((d + "/null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
    ASSERT_EQ(quira("export " + carrier + " -o " + d + "/null").status, 0);
    ASSERT_EQ(quira("repack " + carrier + " -o " + d + "/null").status, 0) << "a device is no file to keep";
    ASSERT_EQ(lstat((d + "/null").c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode)) << "the device is still a device";
  }
  EXPECT_TRUE(leftovers(dir).empty());
  std::vector<std::string> sub = TempDir::list(d + "/sub");
  std::sort(sub.begin(), sub.end());
  EXPECT_EQ(sub, (std::vector<std::string>{"new.wav", "real.wav"})) << "no temporary file beside the link's file";
}

// Standard output was not checked against the input: `-o - >> a.exe` read its own appended output
// back as more blocks and never ended, `-o - 1<> a.exe` overwrote the carrier and exited 0. Now
// a descriptor on the input file is refused like its name, and the input is left as it was.
TEST(HostileOutput, StandardOutputOnTheInputIsRefused) {
  TempDir dir;
  const std::string d = dir.path, err = d + "/err.txt", a = d + "/a.exe", wav = d + "/a.wav";
  ASSERT_EQ(sh("cp " + media_path("speech-16.exe") + " " + a + " && cp " + SPEECH + " " + wav), 0);
  const std::vector<uint8_t> carrier = read_bytes(a), recording = read_bytes(wav);
  // A command that writes into its own input writes without end: it is stopped at 100 MB.
  const std::string tool = "ulimit -f 102400; timeout 20 " + std::string(QUIRA_TOOL);
  for (const std::string& command : {"export --as-played " + a + " -o - >> " + a, "export " + a + " -o - 1<> " + a,
                                     "extract " + a + " -o - >> " + a, "repack " + a + " -o - 1<> " + a}) {
    SCOPED_TRACE(command);
    EXPECT_EQ(sh(tool + " " + command + " 2>" + err), 2);
    EXPECT_EQ(text_of(err), "quira: error: -: standard output is the input file; refusing to write into it\n");
    EXPECT_TRUE(read_bytes(a) == carrier) << "the carrier is untouched";
  }
  EXPECT_EQ(sh(tool + " make - -o - < " + wav + " 1<> " + wav + " 2>" + err), 2);
  EXPECT_EQ(sh(tool + " make " + wav + " -o - >> " + wav + " 2>" + err), 2);
  EXPECT_TRUE(read_bytes(wav) == recording) << "the recording is untouched";
  // Another file on standard output is written as ever.
  EXPECT_EQ(sh(tool + " export " + a + " -o - > " + d + "/b.wav"), 0);
  EXPECT_GT(read_bytes(d + "/b.wav").size(), 44u);
}

// make and repack without --force checked that the output did not exist and later renamed over
// it: a file made meanwhile (another quira writing the same name) was replaced without a word.
// The finished file is now put in place only where no file is. make reads its recording from a
// FIFO here, so that the other file appears exactly between the check and the end.
TEST(HostileOutput, AnOutputThatAppearsMeanwhileIsNotReplacedWithoutForce) {
  TempDir dir;
  const std::string d = dir.path, err = d + "/err.txt", fifo = d + "/in.wav", out = d + "/out.exe";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::vector<uint8_t> recording = read_bytes(SPEECH);
  for (bool force : {false, true}) {
    SCOPED_TRACE(force ? "--force" : "no --force");
    unlink(out.c_str());
    std::thread make([&] {
      EXPECT_EQ(sh(std::string(QUIRA_TOOL) + " make " + (force ? "--force " : "") + fifo + " -o " + out + " 2>" + err),
                force ? 0 : 2);
    });
    // The writer's open returns once make opened the FIFO to read it, past its check of the output.
    int fd = open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    write_file(out, {'m', 'i', 'n', 'e'});
    for (size_t at = 0; at < recording.size();) {
      ssize_t n = write(fd, recording.data() + at, recording.size() - at);
      ASSERT_GT(n, 0);
      at += (size_t)n;
    }
    close(fd);
    make.join();
    if (force) {
      EXPECT_GT(read_bytes(out).size(), (size_t)PAYLOAD_OFFSET) << "--force replaces it";
    } else {
      EXPECT_EQ(text_of(err), "quira: error: " + out + ": exists (use --force to replace it)\n");
      EXPECT_TRUE(read_bytes(out) == (std::vector<uint8_t>{'m', 'i', 'n', 'e'})) << "the other file is kept";
    }
    EXPECT_TRUE(leftovers(dir).empty());
  }
}

// (blocks + 17) x 5,760 wrapped for a sparse carrier of 4.6e18 bytes (on tmpfs, which holds
// one), which then passed the "too long for a WAV file" check and streamed silence until the
// disk was full. The count is held instead, and refused.
TEST(HostileExport, CarriersOfExabytesAreTooLongForAWavFile) {
  const std::string big = "/dev/shm/quira-test-big-" + std::to_string(getpid()) + ".exe";
  // Sizes whose sample count, as heard and as played, wraps to 3,584.
  const int64_t wrap = (int64_t)(((unsigned __int128)1 << 64) / 5760 + 1);
  for (std::string how : {"", "--as-played "}) {
    const int64_t blocks = wrap - (how.empty() ? 17 : 2);
    int fd = open(big.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) GTEST_SKIP() << "no /dev/shm here";
    const bool held = ftruncate(fd, PAYLOAD_OFFSET + PAYLOAD_HEADER_BYTES + (int64_t)BLOCK_BYTES * blocks) == 0;
    close(fd);
    if (!held) {
      unlink(big.c_str());
      GTEST_SKIP() << "/dev/shm holds no file of exabytes here";
    }
    TempDir dir;
    const std::string err = dir.path + "/err.txt";
    EXPECT_EQ(sh("timeout 20 " + std::string(QUIRA_TOOL) + " export " + how + big + " -o /dev/null 2>" + err), 2) << how;
    EXPECT_EQ(text_of(err), "quira: error: " + big + ": the message is too long for a WAV file (over 4 GiB)\n");
  }
  unlink(big.c_str());
}

// info kept the index of every block that failed: 8 bytes a block, 368 MB for a sparse file of
// 64 GiB, std::bad_alloc at 16 TiB. It keeps those it lists (the first thousand; how many fail in
// all is blocks less decoded_blocks), so a file of 2 GiB of zeros is surveyed in 8 MB of data.
// (Not under AddressSanitizer, whose shadow memory no such limit admits.)
TEST(HostileInfo, MemoryStaysTheSameWhateverTheFilesLength) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer maps more than the limit";
#endif
  TempDir dir;
  const std::string big = dir.path + "/big.exe", err = dir.path + "/err.txt";
  FILE* f = fopen(big.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  fclose(f);
  ASSERT_EQ(truncate(big.c_str(), (int64_t)2 << 30), 0);
  const std::string limited = "prlimit --data=" + std::to_string(8 << 20) + " " + std::string(QUIRA_TOOL);
  FILE* pipe = popen((limited + " info --json " + big + " 2>" + err).c_str(), "r");
  std::string json;
  char chunk[65536];
  for (size_t n; (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;) json.append(chunk, n);
  EXPECT_EQ(pclose(pipe), 0) << text_of(err);
  EXPECT_EQ(json_field(json, "blocks"), "1491195");
  EXPECT_EQ(json_field(json, "decoded_blocks"), "0");
  std::string listed = json.substr(json.find("\"failed_blocks\": ["));
  listed = listed.substr(0, listed.find(']'));
  EXPECT_EQ(std::count(listed.begin(), listed.end(), ','), 999);
  EXPECT_NE(listed.find("[0, 1, 2,"), std::string::npos);
  EXPECT_NE(listed.find(", 999"), std::string::npos);
  EXPECT_EQ(sh(limited + " info " + big + " 2>" + err + " | grep -qx 'decoded       0 of 1491195 blocks; failed: 0 1 2 3 4 5 6 7 ...'"), 0);
}
