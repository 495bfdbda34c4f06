// Sample recordings read back through our readers and, for AVI, FLV and MP4,
// through ffprobe and ffmpeg: streams, durations, key-frame spacing, records;
// textured pictures encoded as a recorder encodes them, at their bit rate;
// sync marks seen and heard where they belong once decoded.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <numbers>
#include <sstream>

#include "QVVReader/ByteIO.h"
#include "QVVReader/FileName.h"
#include "QVVReader/QvvDemuxer.h"
#include "tests/reader/PeerTestUtil.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"
#include "voice/voxcore.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::RunShell;
using testing_support::TempDir;

const std::string kTool = DRAVIK_TOOL;

std::vector<std::string> Generate(const std::string& dir, const std::string& args) {
  std::string out;
  EXPECT_EQ(RunShell(kTool + " mksample '" + dir + "' " + args, &out), 0) << args;
  std::vector<std::string> files;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) files.push_back(line);
  return files;
}

std::map<std::string, int> RecordNames(const std::string& file) {
  std::string out;
  RunShell(kTool + " records '" + file + "'", &out);
  std::map<std::string, int> names;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string ms, name;
    fields >> ms >> name;
    ++names[name];
  }
  return names;
}

// Video key frames of one stream: every `fps` frames, starting with the first.
void ExpectOneSecondGroups(const std::vector<reader_test::Packet>& packets, int stream, int frames, int fps) {
  int n = 0;
  for (const auto& p : packets) {
    if (p.kind != "video" || p.stream != stream) continue;
    EXPECT_EQ(p.key, n % fps == 0) << "frame " << n;
    ++n;
  }
  EXPECT_EQ(n, frames);
}

// What the first video stream of `file` says of itself: its H.264 profile and
// the entropy coding every picture parameter set chooses ("1" CABAC, "0" CAVLC).
struct H264Coding {
  std::string profile;
  std::string entropy_flags;  // one digit per parameter set seen
};

H264Coding CodingOf(const std::string& file) {
  H264Coding coding;
  RunShell("ffprobe -v error -select_streams v:0 -show_entries stream=profile -of csv=p=0 '" + file + "'",
           &coding.profile);
  while (!coding.profile.empty() && coding.profile.back() == '\n') coding.profile.pop_back();
  std::string trace;
  RunShell("ffmpeg -hide_banner -v info -i '" + file + "' -map 0:v:0 -c copy -bsf:v trace_headers -f null - 2>&1 "
           "| grep entropy_coding_mode_flag",
           &trace);
  std::istringstream lines(trace);
  std::string line;
  while (std::getline(lines, line)) coding.entropy_flags += line.back();
  return coding;
}

// Bits a second of the first video stream over the whole of a recording of
// `seconds`.
double VideoBitRate(const std::string& file, bool qvv, int seconds) {
  int64_t bytes = 0;
  if (qvv) {
    for (const auto& p : reader_test::ToolPackets(kTool, file)) bytes += p.kind == "video" && p.stream == 0 ? p.size : 0;
  } else {
    std::string sizes;
    RunShell("ffprobe -v error -select_streams v:0 -show_entries packet=size -of csv=p=0 '" + file + "'", &sizes);
    std::istringstream lines(sizes);
    for (int64_t size = 0; lines >> size;) bytes += size;
  }
  return static_cast<double>(bytes) * 8 / seconds;
}

TEST(MkSample, QvvGroupsReadBackWithEveryStreamAndRecord) {
  TempDir dir;
  const auto files = Generate(dir.path().string(), "--channels 3 --seconds 2 --groups 2 --width 320 --height 180");
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(qvv::BaseName(files[0]), "20240315080000_1000.qvv");
  EXPECT_EQ(qvv::BaseName(files[1]), "20240315080002_0100.qvv") << "consecutive starts, another record type";
  std::string probe;
  ASSERT_EQ(RunShell(kTool + " probe '" + files[0] + "'", &probe), 0);
  EXPECT_NE(probe.find("\"duration_us\": 2000000"), std::string::npos) << probe;
  EXPECT_NE(probe.find("\"channel_mask\": 7"), std::string::npos);
  EXPECT_NE(probe.find("\"kind\": \"audio\", \"codec\": 69632"), std::string::npos) << "the recorder's voice";
  const auto packets = reader_test::ToolPackets(kTool, files[0]);
  for (int c = 0; c < 3; ++c) ExpectOneSecondGroups(packets, c, 50, 25);
  const auto records = RecordNames(files[0]);
  EXPECT_EQ(records.at("GPS"), 2);
  EXPECT_EQ(records.at("GSensor"), 20);
  // The voice decodes: one channel's frames through dravik-tool voice.
  int voice_frames = 0;
  for (const auto& p : packets) voice_frames += p.stream == 3;
  EXPECT_NEAR(voice_frames, 2 * 8000 / 161, 2);
}

TEST(MkSample, AviFlvAndMp4ReadLikeFfprobeAndDecode) {
  TempDir dir;
  for (const std::string format : {"avi", "flv", "mp4"}) {
    SCOPED_TRACE(format);
    const auto files =
        Generate((dir / format).string(), "--format " + format + " --channels 2 --seconds 2 --groups 1 --width 320 --height 180");
    ASSERT_EQ(files.size(), 2u);
    for (const auto& file : files) {
      std::string errors;
      EXPECT_EQ(RunShell("ffmpeg -v error -i '" + file + "' -f null - 2>&1", &errors), 0);
      EXPECT_EQ(errors, "");
      std::string streams;
      RunShell("ffprobe -v error -show_entries stream=codec_name,nb_read_frames -count_frames -of csv=p=0 '" + file + "'",
               &streams);
      EXPECT_NE(streams.find("h264,50"), std::string::npos) << streams;
      EXPECT_NE(streams.find(format == "avi" ? "adpcm_ms" : "aac"), std::string::npos) << streams;
      // MP4 video leaves our reader rewritten as Annex B: its packets are checked
      // against ffprobe in reader/Mp4DemuxerTest.
      if (format == "mp4") continue;
      const auto theirs = reader_test::FfprobePackets(file);
      const auto ours = reader_test::ToolPackets(kTool, file);
      std::vector<reader_test::Packet> ours_av;
      for (const auto& p : ours) {
        if (p.kind != "data" || format == "avi") ours_av.push_back(p);  // ffprobe skips FLV's data tags
      }
      ASSERT_EQ(ours_av.size(), theirs.size());
      for (size_t i = 0; i < theirs.size(); ++i) EXPECT_EQ(ours_av[i].crc, theirs[i].crc);
      ExpectOneSecondGroups(ours, 0, 50, 25);
      const auto records = RecordNames(file);
      EXPECT_EQ(records.at("GPS"), 2);
      EXPECT_EQ(records.at("GSensor"), 20);
      if (format == "avi") {
        EXPECT_EQ(records.at("ALG"), 10) << "overlay records in AVI";
      }
    }
    const auto name = qvv::ParseRecordingName(files[1], format == "mp4" ? qvv::NameKind::Mp4 : qvv::NameKind::PerChannel);
    ASSERT_TRUE(name);
    EXPECT_EQ(name->channel, 1);
  }
}

TEST(MkSample, ClipsOfEveryChannelOfAQvvFileDecodeCleanly) {
  TempDir dir;
  const auto files = Generate(dir.path().string(), "--channels 4 --seconds 3 --groups 1 --width 160 --height 96");
  ASSERT_EQ(files.size(), 1u);
  for (int stream = 0; stream < 4; ++stream) {
    const std::string clip = (dir / ("clip" + std::to_string(stream) + ".avi")).string();
    ASSERT_EQ(RunShell(kTool + " clip '" + files[0] + "' --from 1.5 --to 2.5 --stream " + std::to_string(stream) + " '" +
                       clip + "' 2>/dev/null"),
              0);
    std::string errors;
    EXPECT_EQ(RunShell("ffmpeg -v error -i '" + clip + "' -f null - 2>&1", &errors), 0);
    EXPECT_EQ(errors, "") << "stream " << stream;
    const auto packets = reader_test::ToolPackets(kTool, clip);
    ASSERT_FALSE(packets.empty());
    EXPECT_TRUE(packets[0].key) << "the clip opens with a key frame of its channel";
  }
}

TEST(MkSample, SameArgumentsGiveTheSameBytes) {
  TempDir dir;
  for (const std::string content : {"", " --content textured --bitrate 300k", " --sync-marks"}) {
    for (const std::string format : {"qvv", "avi", "flv", "mp4"}) {
      SCOPED_TRACE(format + content);
      // Two channels: QVV encodes them on two threads at once.
      const std::string args =
          "--format " + format + " --channels 2 --seconds 1 --groups 1 --width 160 --height 96" + content;
      const std::string name = format + (content.empty() ? "-plain" : content == " --sync-marks" ? "-marks" : "-textured");
      const auto a = Generate((dir / (name + "a")).string(), args);
      const auto b = Generate((dir / (name + "b")).string(), args);
      ASSERT_EQ(a.size(), b.size());
      ASSERT_FALSE(a.empty());
      for (size_t i = 0; i < a.size(); ++i) EXPECT_EQ(ReadFileBytes(a[i]), ReadFileBytes(b[i])) << a[i];
    }
  }
}

TEST(MkSample, TexturedVideoIsMainProfileCabacAtTheAskedBitRate) {
  TempDir dir;
  for (const std::string format : {"qvv", "avi", "flv", "mp4"}) {
    SCOPED_TRACE(format);
    const auto files = Generate((dir / format).string(), "--format " + format +
                                                             " --channels 2 --seconds 2 --groups 1 --width 320"
                                                             " --height 180 --content textured --bitrate 0.4M");
    ASSERT_FALSE(files.empty());
    std::string video = files[0];
    if (format == "qvv") {  // ffprobe reads the channel from a clip, which copies the packets
      video = (dir / "qvv-clip.avi").string();
      ASSERT_EQ(RunShell(kTool + " clip '" + files[0] + "' --from 0 --to 2 --stream 1 '" + video + "' 2>/dev/null"), 0);
    }
    const auto coding = CodingOf(video);
    EXPECT_EQ(coding.profile, "Main");
    EXPECT_NE(coding.entropy_flags, "");
    EXPECT_EQ(coding.entropy_flags.find('0'), std::string::npos) << "every parameter set chooses CABAC";
    std::string errors;
    EXPECT_EQ(RunShell("ffmpeg -v error -i '" + video + "' -f null - 2>&1", &errors), 0);
    EXPECT_EQ(errors, "");
    const double rate = VideoBitRate(files[0], format == "qvv", 2);
    EXPECT_GT(rate, 0.8 * 400000);
    EXPECT_LT(rate, 1.25 * 400000);
    if (format != "mp4") {
      ExpectOneSecondGroups(reader_test::ToolPackets(kTool, files[0]), format == "qvv" ? 1 : 0, 50, 25);
    }
  }
  // Plain pictures stay at constant quality, the fastest setting: no CABAC.
  const auto plain =
      Generate((dir / "plain").string(), "--format avi --channels 1 --seconds 1 --groups 1 --width 320 --height 180");
  ASSERT_EQ(plain.size(), 1u);
  const auto coding = CodingOf(plain[0]);
  EXPECT_EQ(coding.profile, "Constrained Baseline");
  EXPECT_EQ(coding.entropy_flags.find('1'), std::string::npos);
}

// ---------------------------------------------------------------- sync marks

struct Sound {
  std::vector<int16_t> pcm;
  int rate = 0;
};

// The first audio stream of an AVI, FLV or MP4 as ffmpeg decodes it.
Sound FfmpegSound(const std::string& file) {
  Sound sound;
  std::string rate, bytes;
  RunShell("ffprobe -v error -select_streams a:0 -show_entries stream=sample_rate -of csv=p=0 '" + file + "'", &rate);
  sound.rate = std::atoi(rate.c_str());
  RunShell("ffmpeg -v error -i '" + file + "' -map 0:a:0 -f s16le -ac 1 -", &bytes);
  sound.pcm.resize(bytes.size() / 2);
  std::memcpy(sound.pcm.data(), bytes.data(), sound.pcm.size() * 2);
  return sound;
}

// A QVV file's voice stream as our reader reads it and voxcore decodes it, each
// frame placed at its time stamp.
Sound QvvVoice(const std::string& file, int stream) {
  Sound sound{{}, 8000};
  qvv::ByteIOContext* pb = qvv::url_open_file(file.c_str(), qvv::kUrlReadOnly);
  EXPECT_NE(pb, nullptr);
  if (!pb) return sound;
  qvv::QvvDemuxer demuxer;
  EXPECT_EQ(demuxer.Open(pb, file), 0);
  std::vector<uint8_t> state(ZN_VOICE_STATE_SIZE);
  ZN_VOICE_DecReset(state.data(), 35);
  qvv::ReaderPacket packet;
  while (demuxer.ReadPacket(packet) >= 0) {
    if (packet.stream_index != stream) continue;
    int16_t pcm[ZN_VOICE_MAX_DECODED_SAMPLES];
    uint16_t count = 0;
    EXPECT_EQ(ZN_VOICE_DecodeFrame(state.data(), packet.data.get(), pcm, &count), ZN_VOICE_OK);
    const auto at = static_cast<size_t>(packet.pts * sound.rate / 1000000);
    if (sound.pcm.size() < at + count) sound.pcm.resize(at + count);
    std::copy(pcm, pcm + count, sound.pcm.begin() + static_cast<std::ptrdiff_t>(at));
  }
  qvv::url_fclose(pb);
  return sound;
}

// The sinusoid of `hz` that best matches the 5 ms around sample `center` (least
// squares): its amplitude, and what it leaves unexplained (root mean square).
struct Fit {
  double amplitude = 0;
  double residual = 0;
};

Fit FitTone(const Sound& s, int64_t center, double hz) {
  const int64_t half = s.rate * 5 / 2000;
  const int64_t from = std::max<int64_t>(0, center - half);
  const int64_t to = std::min<int64_t>(static_cast<int64_t>(s.pcm.size()), center + half);
  double cc = 0, ss = 0, cs = 0, xc = 0, xs = 0, xx = 0;
  for (int64_t n = from; n < to; ++n) {
    const double phase = 2 * std::numbers::pi * hz * static_cast<double>(n) / s.rate;
    const double c = std::cos(phase), si = std::sin(phase), x = s.pcm[static_cast<size_t>(n)];
    cc += c * c, ss += si * si, cs += c * si, xc += x * c, xs += x * si, xx += x * x;
  }
  const double det = cc * ss - cs * cs;
  if (to - from < 2 || det <= 0) return {};
  const double a = (xc * ss - xs * cs) / det, b = (xs * cc - xc * cs) / det;
  const double left = xx - a * xc - b * xs;  // the sum of squares the fit leaves
  return {std::hypot(a, b), std::sqrt(std::max(0.0, left) / static_cast<double>(to - from))};
}

// Where 1 kHz sounds at over half the beep's loudness (16000): [first, last]
// samples of every run.
std::vector<std::pair<int64_t, int64_t>> Beeps(const Sound& s) {
  std::vector<std::pair<int64_t, int64_t>> runs;
  bool in = false;
  for (int64_t n = 0; n < static_cast<int64_t>(s.pcm.size()); ++n) {
    const bool loud = FitTone(s, n, 1000).amplitude > 8000;
    if (loud && !in) runs.push_back({n, n});
    if (loud) runs.back().second = n;
    in = loud;
  }
  return runs;
}

// The beeps begin on whole seconds and last 40 ms (each to within a
// millisecond); away from their edges the sound is the beep alone or the
// channel's tone alone. `from_second` skips what a codec cannot carry.
void ExpectBeepsAtWholeSeconds(const Sound& s, int channel, int seconds, int from_second) {
  ASSERT_GT(s.rate, 0);
  const auto beeps = Beeps(s);
  ASSERT_EQ(beeps.size(), static_cast<size_t>(seconds - from_second));
  const double ms = s.rate / 1000.0;
  for (size_t i = 0; i < beeps.size(); ++i) {
    const int64_t second = (from_second + static_cast<int64_t>(i)) * s.rate;
    EXPECT_NEAR(static_cast<double>(beeps[i].first - second), 0, ms) << "beep " << i;
    EXPECT_NEAR(static_cast<double>(beeps[i].second + 1 - beeps[i].first), 40 * ms, ms) << "beep " << i;
  }
  const int64_t start = from_second * s.rate;
  const int64_t end = static_cast<int64_t>(s.pcm.size()) - static_cast<int64_t>(5 * ms);
  for (int64_t n = start + static_cast<int64_t>(5 * ms); n < end; n += static_cast<int64_t>(ms)) {
    const double into = static_cast<double>(n % s.rate);
    const double from_edge = std::min({into, std::abs(into - 40 * ms), s.rate - into});
    if (from_edge < 5 * ms) continue;  // the window straddles an edge of the beep
    const bool beeping = into < 40 * ms && n / s.rate < seconds;  // none past the end
    const Fit fit = FitTone(s, n, beeping ? 1000 : 300 + 100 * channel);
    SCOPED_TRACE("sample " + std::to_string(n));
    EXPECT_NEAR(fit.amplitude, beeping ? 16000 : 6000, beeping ? 2400 : 2000);
    EXPECT_LT(fit.residual, 0.1 * fit.amplitude);
  }
}

// Which of a file's pictures are white all over (Y 235, U and V 128, near
// enough for a lossy codec), in order.
std::vector<bool> WhitePictures(const std::string& file, int width, int height) {
  std::string bytes;
  RunShell("ffmpeg -v error -i '" + file + "' -map 0:v:0 -f rawvideo -pix_fmt yuv420p -", &bytes);
  const size_t luma = static_cast<size_t>(width) * height;
  const size_t size = luma * 3 / 2;
  std::vector<bool> white;
  for (size_t at = 0; at + size <= bytes.size(); at += size) {
    bool all = true;
    for (size_t i = 0; i < size && all; ++i) {
      const int v = static_cast<uint8_t>(bytes[at + i]);
      all = i < luma ? std::abs(v - 235) <= 6 : std::abs(v - 128) <= 4;
    }
    white.push_back(all);
  }
  return white;
}

TEST(MkSample, SyncMarksFlashAndBeepInEveryChannelAtWholeSeconds) {
  TempDir dir;
  struct Case {
    std::string format, audio;
    int first_beep;  // AAC in FLV cannot carry the first frame's samples: its priming is left out
  };
  for (const Case& c : {Case{"qvv", "voice", 0}, Case{"flv", "aac", 1}, Case{"flv", "adpcm", 0},
                        Case{"avi", "adpcm", 0}, Case{"mp4", "aac", 0}}) {
    SCOPED_TRACE(c.format + " " + c.audio);
    const auto files = Generate((dir / (c.format + c.audio)).string(), "--format " + c.format + " --audio " + c.audio +
                                                                          " --channels 2 --seconds 3 --groups 1"
                                                                          " --width 160 --height 96 --sync-marks");
    ASSERT_EQ(files.size(), c.format == "qvv" ? 1u : 2u);
    for (int channel = 0; channel < 2; ++channel) {
      SCOPED_TRACE("channel " + std::to_string(channel));
      std::string video = files[static_cast<size_t>(c.format == "qvv" ? 0 : channel)];
      Sound sound;
      if (c.format == "qvv") {  // ffmpeg reads the pictures from a clip, which copies the packets
        sound = QvvVoice(video, 2 + channel);
        const std::string clip = (dir / ("qvv-clip" + std::to_string(channel) + ".avi")).string();
        ASSERT_EQ(RunShell(kTool + " clip '" + video + "' --from 0 --to 3 --stream " + std::to_string(channel) + " '" +
                           clip + "' 2>/dev/null"),
                  0);
        video = clip;
      } else {
        sound = FfmpegSound(video);
      }
      const auto white = WhitePictures(video, 160, 96);
      ASSERT_EQ(white.size(), 75u);
      for (size_t f = 0; f < white.size(); ++f) EXPECT_EQ(white[f], f % 25 == 0) << "picture " << f;
      ExpectBeepsAtWholeSeconds(sound, channel, 3, c.first_beep);
    }
  }
}

TEST(MkSample, TwelveChannelQvvUsesTheLongFormAndLastGroupDrivesAbroad) {
  TempDir dir;
  const auto files = Generate(dir.path().string(), "--channels 12 --seconds 1 --groups 2 --width 96 --height 64");
  ASSERT_EQ(files.size(), 2u);
  EXPECT_GE(qvv::BaseName(files[0]).size(), qvv::kQvvLongHeaderNameLength);
  const auto name = qvv::ParseRecordingName(files[0], qvv::NameKind::Qvv);
  ASSERT_TRUE(name);
  EXPECT_EQ(name->channel_mask, 0xFFFu);
  EXPECT_EQ(name->duration, 1);
  std::string probe;
  ASSERT_EQ(RunShell(kTool + " probe '" + files[0] + "'", &probe), 0);
  EXPECT_NE(probe.find("\"channel_mask\": 4095"), std::string::npos) << probe;
  std::string gps;
  RunShell(kTool + " records '" + files[0] + "' | grep GPS", &gps);
  EXPECT_NE(gps.find("lat=22.54"), std::string::npos) << "the first group drives in Shenzhen";
  RunShell(kTool + " records '" + files[1] + "' | grep GPS", &gps);
  EXPECT_NE(gps.find("lat=48.13"), std::string::npos) << "the last one abroad";
}

TEST(MkSample, RefusesAudioAFormatCannotCarryUnknownContentAndBadBitRates) {
  TempDir dir;
  const std::string run = kTool + " mksample '" + dir.path().string() + "' ";
  std::string err;
  EXPECT_EQ(RunShell(run + "--format mp4 --audio voice 2>&1", &err), 1);
  EXPECT_NE(err.find("cannot go into .mp4"), std::string::npos) << err;
  EXPECT_EQ(RunShell(run + "--content noisy 2>/dev/null"), 2);
  for (const std::string rate : {"2x", "-2M", "2e6", "1.5.0M", "M", "2.0000001M"}) {
    EXPECT_EQ(RunShell(run + "--bitrate " + rate + " 2>/dev/null"), 2) << rate;
  }
  EXPECT_EQ(RunShell(run + "--bitrate 1k 2>&1", &err), 1) << "below what an encoder can hold";
  EXPECT_NE(err.find("--bitrate out of range"), std::string::npos) << err;
  for (const std::string start : {"'2024-03-15 9:30'", "'2024-03-15 09:30:00x'", "'1960-01-01 00:00:00'", "today"})
    EXPECT_EQ(RunShell(run + "--start " + start + " 2>/dev/null"), 2) << start;
}

TEST(MkSample, AChosenStartIsInTheNamesAndTheFollowingGroups) {
  TempDir dir;
  const auto files = Generate(dir.path().string(), "--format avi --channels 1 --seconds 2 --groups 2 --width 160 "
                                                   "--height 96 --audio none --start '2023-12-31 23:59:59'");
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(std::filesystem::path(files[0]).filename().string().substr(0, 14), "20231231235959");
  EXPECT_EQ(std::filesystem::path(files[1]).filename().string().substr(0, 14), "20240101000001");
}

}  // namespace
