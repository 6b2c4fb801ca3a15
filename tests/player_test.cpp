// SPDX-License-Identifier: MIT
// The player's own dialog procedure and playback control, driven here as a user and a sound card
// would drive them under Windows: clicks, keys and buffer-done notifications arrive as messages.
// A scripted face records what the screen would show and acts after a given notification.
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/playback.h"
#include "audio/wave_output.h"
#include "quira/quira.h"
#include "res/resource.h"
#include "tests/media.h"
#include "tool/hosting/player_host.h"

namespace {

struct Box {
  std::string text, caption;
  UINT type;
  bool before_shown;
};

// A face that records the titles, message boxes and notifications, and runs the actions a test
// sets for "after the n-th buffer-done notification". When the dialog's loop is idle it presses
// Escape, unless the test set something else.
struct Script {
  std::vector<std::string> titles;
  std::string title_when_shown;
  bool shown = false;
  std::vector<Box> boxes;
  int notifications = 0;
  int stopped_at = 0;  // the notification after which playback first stood stopped
  std::vector<INT_PTR> results;  // of every message handled, in order
  std::map<int, std::function<void(HWND)>> after;
  std::function<void(HWND)> on_idle = [](HWND dialog) { platform_key(dialog, VK_ESCAPE); };
  std::vector<int16_t> played;

  DialogFace face() {
    DialogFace f = {};
    f.context = this;
    f.idle = [](void* c, HWND dialog) {
      static_cast<Script*>(c)->on_idle(dialog);
      return -1;
    };
    f.shown = [](void* c, HWND dialog) {
      Script* s = static_cast<Script*>(c);
      char text[64];
      GetWindowTextA(dialog, text, sizeof text);
      s->title_when_shown = text;
      s->shown = true;
    };
    f.handled = [](void* c, HWND dialog, UINT message, WPARAM, LPARAM, INT_PTR result) {
      Script* s = static_cast<Script*>(c);
      s->results.push_back(result);
      if (message != MM_WOM_DONE) return;
      s->notifications++;
      if (!PLAYBACK.playing && !s->stopped_at) s->stopped_at = s->notifications;
      auto action = s->after.find(s->notifications);
      if (action != s->after.end()) action->second(dialog);
    };
    f.title = [](void* c, HWND, const char* text) { static_cast<Script*>(c)->titles.push_back(text); };
    f.message_box = [](void* c, HWND, const char* text, const char* caption, UINT type) {
      Script* s = static_cast<Script*>(c);
      s->boxes.push_back(Box{text, caption, type, !s->shown});
      return IDOK;
    };
    return f;
  }

  void run(const std::string& carrier, bool with_device = true) {
    DialogFace f = face();
    const WaveDevice* device = with_device ? platform_wave_sink(
                                                 [](void* c, const int16_t* samples, size_t n) {
                                                   auto* out = static_cast<std::vector<int16_t>*>(c);
                                                   out->insert(out->end(), samples, samples + n);
                                                 },
                                                 &played)
                                           : nullptr;
    player_host_run(HostCarrier{carrier}, device, &f);
  }
};

std::string last_title(const Script& s) { return s.titles.empty() ? "" : s.titles.back(); }

HWND play_button(HWND dialog) { return GetDlgItem(dialog, IDC_PLAY); }

bool has_default_mark(HWND dialog, int id) {
  return (GetWindowLongA(GetDlgItem(dialog, id), GWL_STYLE) & BS_DEFPUSHBUTTON) != 0;
}

// A carrier of n blocks cut from a real one (blocks repeat when it has fewer), in a temp file.
struct MadeCarrier {
  std::string path;
  MadeCarrier(int blocks, size_t extra_bytes = 0, uint8_t effect = 0, uint8_t level_byte = 127) {
    std::vector<uint8_t> source = read_bytes(media_path("speech-32.exe"));
    auto source_blocks = carrier_blocks(media_path("speech-32.exe"));
    std::vector<uint8_t> bytes(source.begin(), source.begin() + PAYLOAD_OFFSET);
    uint8_t header[PAYLOAD_HEADER_BYTES] = {0};
    header[10] = effect;
    header[11] = level_byte;
    bytes.insert(bytes.end(), header, header + PAYLOAD_HEADER_BYTES);
    for (int k = 0; k < blocks; k++) {
      const auto& b = source_blocks[(size_t)k % source_blocks.size()];
      bytes.insert(bytes.end(), b.begin(), b.end());
    }
    bytes.insert(bytes.end(), source_blocks[0].begin(), source_blocks[0].begin() + (long)extra_bytes);
    char name[] = "/tmp/quira-player-XXXXXX";
    int fd = mkstemp(name);
    path = name;
    EXPECT_EQ(write(fd, bytes.data(), bytes.size()), (ssize_t)bytes.size());
    close(fd);
  }
  ~MadeCarrier() { unlink(path.c_str()); }
};

TEST(PlayerMedia, StartsPlayingWithTheTotalShownBeforeTheDialog) {
  MadeCarrier carrier(181);  // 65.16 s of payload: 65 s
  Script s;
  HWND seen = nullptr;
  s.after[2] = [&](HWND dialog) {
    seen = dialog;
    EXPECT_EQ(PLAYBACK.playing, 1);
    EXPECT_EQ(PLAYBACK.decoding, 1);
    EXPECT_EQ(platform_image_id(platform_button_image(play_button(dialog))), IDB_PLAYING);
    EXPECT_FALSE(IsWindowEnabled(play_button(dialog)));
    EXPECT_EQ(platform_image_id(platform_button_image(GetDlgItem(dialog, IDC_STOP))), IDB_STOP);
  };
  s.run(carrier.path);
  EXPECT_EQ(s.title_when_shown, "Quira [00:00:00]-[00:01:05]");
  ASSERT_GE(s.titles.size(), 1u);
  EXPECT_EQ(s.titles[0], "Quira [00:00:00]-[00:01:05]");
  // One title per block read: after 167 blocks, one minute of the 65 s has played.
  ASSERT_EQ(s.titles.size(), 1u + 181u);
  EXPECT_EQ(s.titles[167], "Quira [00:01:00]-[00:01:05]");
  // Played from the start, the last title shows the whole length.
  EXPECT_EQ(last_title(s), "Quira [00:01:05]-[00:01:05]");
  EXPECT_TRUE(s.boxes.empty());
  EXPECT_NE(seen, nullptr);
}

TEST(PlayerMedia, EndsAfterTheLastBlockAndPlaysAgainFromTheStart) {
  MadeCarrier carrier(6);
  Script s;
  int end_notification = 0;
  // Blocks 0..5 are read by notifications 1..6, the 7th finds nothing (Draining), the 8th stops.
  s.after[7] = [&](HWND) {
    EXPECT_EQ(PLAYBACK.playing, 1);  // Draining
    EXPECT_EQ(PLAYBACK.decoding, 0);
    EXPECT_EQ(PLAYBACK.block_counter, 0);
  };
  s.after[8] = [&](HWND dialog) {
    end_notification = 8;
    EXPECT_EQ(PLAYBACK.playing, 0);  // Idle
    EXPECT_EQ(PLAYBACK.block_counter, 0);
    EXPECT_TRUE(IsWindowEnabled(play_button(dialog)));
    EXPECT_EQ(platform_image_id(platform_button_image(play_button(dialog))), IDB_PLAY);
  };
  std::vector<int16_t> first;
  int runs = 0;
  s.on_idle = [&](HWND dialog) {
    // Idle after the natural end: play again once, then close.
    if (runs++ == 0) {
      first = s.played;
      s.played.clear();
      platform_click(dialog, IDC_PLAY);
    } else {
      platform_key(dialog, VK_ESCAPE);
    }
  };
  s.run(carrier.path);
  EXPECT_EQ(end_notification, 8);
  EXPECT_EQ(s.stopped_at, 8);
  // The title keeps the last elapsed time after the end.
  EXPECT_EQ(s.titles[6], "Quira [00:00:02]-[00:00:02]");
  // Two silent start buffers, the silent priming buffer, then blocks 1..5: 8 buffers.
  ASSERT_EQ(first.size(), 8u * BLOCK_SAMPLES);
  for (size_t i = 0; i < 3u * BLOCK_SAMPLES; i++) ASSERT_EQ(first[i], 0) << i;
  // The second play starts from block 0 again and plays the same.
  EXPECT_TRUE(s.played == first);
}

TEST(PlayerMedia, StopHoldsResumeBacksUpStopTwiceRewinds) {
  MadeCarrier carrier(40);  // 14.4 s: 14 s
  Script s;
  s.after[10] = [](HWND dialog) { platform_click(dialog, IDC_STOP); };  // 10 blocks read
  int step = 0;
  s.on_idle = [&](HWND dialog) {
    switch (step++) {
      case 0:
        // Halted. The stop handed back both buffers; their notifications changed nothing.
        EXPECT_EQ(PLAYBACK.playing, 0);
        EXPECT_EQ(PLAYBACK.block_counter, 10);
        EXPECT_EQ(s.notifications, 12);
        EXPECT_EQ(last_title(s), "Quira [00:00:04]-[00:00:14]");
        EXPECT_TRUE(IsWindowEnabled(play_button(dialog)));
        platform_click(dialog, IDC_PLAY);
        s.after[13] = [](HWND d) {
          // The resume backed up one block: block 9 primed the decoder, block 10 is next.
          EXPECT_EQ(PLAYBACK.block_counter, 10);
          EXPECT_EQ(player_host_position(PLAYBACK.carrier_file), payload_block_offset(10));
          platform_click(d, IDC_STOP);
        };
        break;
      case 1:
        EXPECT_EQ(PLAYBACK.block_counter, 10);
        platform_click(dialog, IDC_STOP);  // stopped already: rewinds
        break;
      case 2:
        EXPECT_EQ(PLAYBACK.block_counter, 0);
        EXPECT_EQ(last_title(s), "Quira [00:00:00]-[00:00:14]");
        platform_click(dialog, IDC_STOP);  // Idle: the title is written again
        break;
      case 3:
        EXPECT_EQ(s.titles[s.titles.size() - 2], s.titles.back());
        platform_click(dialog, IDC_PLAY);  // from block 0, no back-up
        s.after[s.notifications + 1] = [](HWND d) {
          EXPECT_EQ(PLAYBACK.block_counter, 1);
          EXPECT_EQ(player_host_position(PLAYBACK.carrier_file), payload_block_offset(1));
          platform_key(d, VK_ESCAPE);
        };
        break;
      default:
        platform_key(dialog, VK_ESCAPE);
    }
  };
  s.run(carrier.path);
  EXPECT_EQ(step, 4);
}

TEST(PlayerMedia, ButtonsLoseDefaultMarkAndFocusAfterEveryClick) {
  MadeCarrier carrier(30);
  Script s;
  std::vector<std::string> failures;
  auto check_released = [&](HWND dialog, const char* when, bool focus_parked = true) {
    if (has_default_mark(dialog, IDC_PLAY) || has_default_mark(dialog, IDC_STOP))
      failures.push_back(std::string(when) + ": a bitmap button carries the default mark");
    if (!has_default_mark(dialog, IDC_DEFAULT)) failures.push_back(std::string(when) + ": 1025 lost it");
    if (focus_parked && GetFocus() != GetDlgItem(dialog, IDC_LABEL))
      failures.push_back(std::string(when) + ": focus is not on the label");
  };
  s.after[3] = [&](HWND dialog) {
    // After start-up the dialog manager gives the focus to the first control that takes it, the
    // stop button (play is disabled while playing); no button carries the default mark.
    check_released(dialog, "start", false);
    if (GetFocus() != GetDlgItem(dialog, IDC_STOP)) failures.push_back("start: focus not on stop");
    platform_click(dialog, IDC_STOP);
  };
  int step = 0;
  s.on_idle = [&](HWND dialog) {
    switch (step++) {
      case 0:
        check_released(dialog, "stop");
        platform_key(dialog, VK_RETURN);  // Enter: the hidden default button, which does nothing
        break;
      case 1:
        if (PLAYBACK.playing || PLAYBACK.block_counter != 3) failures.push_back("Enter changed something");
        platform_click(dialog, IDC_PLAY);
        s.after[s.notifications + 1] = [&](HWND d) {
          check_released(d, "play");
          // A command for the play button while playing does nothing, not even move the focus.
          SetFocus(GetDlgItem(d, IDC_STOP));
          SendMessageA(d, WM_COMMAND, IDC_PLAY, 0);
          if (GetFocus() != GetDlgItem(d, IDC_STOP)) failures.push_back("play while playing moved focus");
          SetFocus(GetDlgItem(d, IDC_LABEL));
          SendMessageA(d, WM_COMMAND, IDOK, 0);
          SendMessageA(d, WM_COMMAND, IDC_DEFAULT, 0);
          if (!PLAYBACK.playing) failures.push_back("IDOK or 1025 stopped playback");
          platform_key(d, VK_ESCAPE);  // closing while playing stops the device first
        };
        break;
      default:
        platform_key(dialog, VK_ESCAPE);
    }
  };
  s.run(carrier.path);
  EXPECT_EQ(PLAYBACK.playing, 0);
  EXPECT_EQ(platform_wave_pending(), 0);
  for (const std::string& f : failures) ADD_FAILURE() << f;
}

TEST(PlayerMedia, TheCloseBoxWhilePlayingStopsTheDeviceBeforeTheEnd) {
  MadeCarrier carrier(30);
  Script s;
  s.after[4] = [](HWND dialog) { platform_close(dialog); };
  s.on_idle = [](HWND dialog) {
    ADD_FAILURE() << "the close box did not end the dialog";
    platform_key(dialog, VK_ESCAPE);
  };
  s.run(carrier.path);
  EXPECT_EQ(PLAYBACK.playing, 0);
  EXPECT_EQ(PLAYBACK.carrier_file, nullptr);
  EXPECT_EQ(platform_wave_pending(), 0);
  EXPECT_EQ(PLAYBACK.block_counter, 4);
}

TEST(PlayerMedia, WithoutPayloadStopsAfterTwoSilentBuffers) {
  MadeCarrier carrier(0);
  // A front part and nothing else: cut the header off too.
  ASSERT_EQ(truncate(carrier.path.c_str(), PAYLOAD_OFFSET), 0);
  Script s;
  s.run(carrier.path);
  EXPECT_EQ(s.title_when_shown, "Quira [00:00:00]-[00:00:00]");
  // The first notification finds no block, the second stops; the reset hands back the third.
  EXPECT_EQ(s.stopped_at, 2);
  EXPECT_EQ(s.notifications, 3);
  EXPECT_EQ(s.played.size(), 2u * BLOCK_SAMPLES);
  EXPECT_EQ(s.titles.size(), 1u);
}

TEST(PlayerMedia, ShortLastBlockPlaysWithTheStaleRemainderBehindIt) {
  MadeCarrier whole(5), cut(5, 700);
  Script a, b;
  a.run(whole.path);
  b.run(cut.path);
  // One more buffer for the short block; the last title counts it.
  EXPECT_EQ(b.played.size(), a.played.size() + BLOCK_SAMPLES);
  EXPECT_EQ(b.titles.size(), a.titles.size() + 1);
}

TEST(PlayerMedia, NoSoundDeviceShowsTheMessageBeforeTheDialog) {
  MadeCarrier carrier(10);
  Script s;
  int clicks = 0;
  s.on_idle = [&](HWND dialog) {
    EXPECT_EQ(PLAYBACK.playing, 0);
    EXPECT_EQ(PLAYBACK.carrier_file, nullptr);
    EXPECT_TRUE(IsWindowEnabled(play_button(dialog)));
    EXPECT_EQ(platform_image_id(platform_button_image(play_button(dialog))), IDB_PLAY);
    if (clicks++ == 0)
      platform_click(dialog, IDC_PLAY);  // play may be pressed again: the same message
    else
      platform_key(dialog, VK_ESCAPE);
  };
  s.run(carrier.path, false);
  ASSERT_EQ(s.boxes.size(), 2u);
  EXPECT_EQ(s.boxes[0].text, "Can not open sound device.");
  EXPECT_EQ(s.boxes[0].caption, "Quira");
  EXPECT_EQ(s.boxes[0].type, (UINT)(MB_OK | MB_ICONINFORMATION));
  EXPECT_EQ(s.boxes[0].type, 0x40u);
  EXPECT_TRUE(s.boxes[0].before_shown);
  EXPECT_FALSE(s.boxes[1].before_shown);
  EXPECT_EQ(s.title_when_shown, "Quira [00:00:00]-[00:00:04]");
  EXPECT_EQ(PLAYBACK.block_counter, 0);
}

TEST(PlayerMedia, CarrierThatCannotBeOpenedIsNeverRead) {
  // The player's own file is gone: the header reads as none, and playback must not read from a
  // stream that failed to open; the first notification ends it.
  Script s;
  s.run("/nonexistent/quira-carrier.exe");
  EXPECT_EQ(s.title_when_shown, "Quira [00:00:00]-[00:00:00]");
  EXPECT_EQ(s.stopped_at, 1);
  EXPECT_EQ(s.played.size(), (size_t)BLOCK_SAMPLES);
}

TEST(PlayerMedia, NotificationsForForeignHeadersAreIgnored) {
  MadeCarrier carrier(20);
  Script s;
  WAVEHDR stranger = {};
  int16_t stranger_samples[4] = {1, 2, 3, 4};
  stranger.lpData = (LPSTR)stranger_samples;
  stranger.dwBufferLength = sizeof stranger_samples;
  stranger.dwFlags = WHDR_DONE | WHDR_PREPARED;
  int32_t counter = -1;
  s.after[4] = [&](HWND dialog) {
    counter = PLAYBACK.block_counter;
    PostMessageA(dialog, MM_WOM_DONE, 0, (LPARAM)&stranger);
    // A header of the device that it still holds is not handed back yet either.
    PostMessageA(dialog, MM_WOM_DONE, 0, (LPARAM)WAVE.header_a);
  };
  s.after[6] = [&](HWND dialog) {
    // Notifications 5 and 6 were the strangers; nothing moved.
    EXPECT_EQ(PLAYBACK.block_counter, counter);
    platform_key(dialog, VK_ESCAPE);
  };
  s.run(carrier.path);
  EXPECT_EQ(stranger_samples[0], 1);
  EXPECT_EQ(stranger.dwFlags, (DWORD)(WHDR_DONE | WHDR_PREPARED));
}

TEST(PlayerMedia, PlaysExactlyWhatExportAsPlayedWrites) {
  // The export runs this same player over a capturing device; here it runs under a face that
  // plays to the end. Both must agree with the carrier's own effect.
  Script s;
  MadeCarrier carrier(25, 0, 6, 80);
  s.run(carrier.path);
  EXPECT_TRUE(s.played == player_host_capture(HostCarrier{carrier.path}));
  EXPECT_EQ(s.played.size(), (2u + 25u) * BLOCK_SAMPLES);

  // The same over the device that writes a WAV file, against the tool's own export.
  std::string played = carrier.path + ".played.wav", exported = carrier.path + ".exported.wav";
  Script t;
  DialogFace face = t.face();
  player_host_run(HostCarrier{carrier.path}, platform_wave_file(played.c_str()), &face);
  std::string command = std::string(QUIRA_TOOL) + " export --as-played " + carrier.path + " -o " + exported;
  ASSERT_EQ(system(command.c_str()), 0);
  std::vector<uint8_t> from_device = read_bytes(played), from_tool = read_bytes(exported);
  EXPECT_EQ(from_device.size(), 44 + 2 * s.played.size());
  EXPECT_TRUE(from_device == from_tool);
  unlink(played.c_str());
  unlink(exported.c_str());

  // Another effect through the player's file interface, which changes the header's bytes as the
  // player reads them, against the library's player with the same choice: one of each family.
  for (auto [code, level_byte] : {std::pair{0, 127}, {3, 20}, {9, 0}, {16, 200}}) {
    SCOPED_TRACE(testing::Message() << "effect " << code << ", level byte " << level_byte);
    const int level = (int8_t)(uint8_t)(127 - level_byte);  // the weight the byte stores
    command = std::string(QUIRA_TOOL) + " export --as-played --effect " + std::to_string(code) + " --level " +
              std::to_string(level) + " " + carrier.path + " -o " + exported;
    ASSERT_EQ(system(command.c_str()), 0);
    std::vector<int16_t> from_player = player_host_capture(HostCarrier{carrier.path, code, level_byte});
    EXPECT_EQ(from_player.size(), s.played.size());
    EXPECT_TRUE(samples_of(read_bytes(exported), 44) == from_player);
    unlink(exported.c_str());
  }
}

// The library's player against this one, on the same carrier through the same session: play
// halted after 8 buffers, resumed for 5 more and halted again, rewound and played to the end,
// then played again from the start. The library's caller keeps the device's two buffers full, so
// a stop cuts the last two buffers it took, as the device's reset does here.
TEST(PlayerMedia, TheLibrarysPlayerHaltsResumesAndRewindsAsThisPlayerDoes) {
  MadeCarrier carrier(30, 500, 9, 40);  // a short last block, and a swept delay to carry state
  Script s;
  int step = 0;
  s.after[8] = [](HWND d) { platform_click(d, IDC_STOP); };
  s.on_idle = [&](HWND d) {
    switch (step++) {
      case 0:
        platform_click(d, IDC_PLAY);
        s.after[s.notifications + 5] = [](HWND dialog) { platform_click(dialog, IDC_STOP); };
        break;
      case 1:
        platform_click(d, IDC_STOP);  // rewinds
        platform_click(d, IDC_PLAY);
        break;
      case 2:
        platform_click(d, IDC_PLAY);  // after the end: from the start
        break;
      default:
        platform_key(d, VK_ESCAPE);
    }
  };
  s.run(carrier.path);

  QuiraCarrier* c = nullptr;
  ASSERT_EQ(quira_carrier_open_path(carrier.path.c_str(), &c, nullptr), QUIRA_OK);
  QuiraPlayer* p = nullptr;
  ASSERT_EQ(quira_player_new(c, nullptr, &p), QUIRA_OK);
  std::vector<int16_t> played;
  int16_t buffer[QUIRA_BUFFER_SAMPLES];
  // One playback: heard buffers, all of them when it runs to its end.
  auto play = [&](int heard) {
    EXPECT_EQ(quira_player_start(p), QUIRA_OK);
    std::vector<std::vector<int16_t>> taken;
    while ((heard < 0 || (int)taken.size() < heard + 2) && quira_player_next(p, buffer, QUIRA_BUFFER_SAMPLES, nullptr) > 0)
      taken.emplace_back(buffer, buffer + QUIRA_BUFFER_SAMPLES);
    if (heard >= 0) quira_player_stop(p);
    for (size_t i = 0; i < taken.size() && (heard < 0 || (int)i < heard); i++)
      played.insert(played.end(), taken[i].begin(), taken[i].end());
  };
  play(8);
  EXPECT_EQ(quira_player_position(p), 8);
  play(5);
  quira_player_stop(p);
  EXPECT_EQ(quira_player_position(p), 0);
  play(-1);
  play(-1);
  char title[QUIRA_TITLE_CHARS];
  EXPECT_GT(quira_player_title(p, title, sizeof title), 0);
  EXPECT_EQ(last_title(s), title);
  EXPECT_EQ(played.size(), s.played.size());
  EXPECT_TRUE(played == s.played);
  quira_player_free(p);
  quira_carrier_close(c);
}

}  // namespace
