// Samples per second to encode and decode each voice codec: voxcore next to
// spandsp and FFmpeg's libavcodec on the same signal in the same run. Frames
// of 160 samples (161 for type 35), as the recorder writes them.
#include <benchmark/benchmark.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <spandsp.h>
}

#include <cstring>
#include <vector>

#include "tests/support/Signals.h"
#include "voice/voxcore.h"

namespace {

const std::vector<int16_t>& Signal() {
  static const std::vector<int16_t> signal = testing_support::SpeechLike(8000 * 10, 3);
  return signal;
}

int FrameSamples(int type) { return type == 35 ? 161 : 160; }

// --- voxcore ---------------------------------------------------------------

std::vector<std::vector<uint8_t>> EncodeAll(int type) {
  alignas(8) uint8_t state[ZN_VOICE_STATE_SIZE];
  ZN_VOICE_EncReset(state, type);
  std::vector<std::vector<uint8_t>> frames;
  const auto& s = Signal();
  const size_t n = static_cast<size_t>(FrameSamples(type));
  for (size_t at = 0; at + n <= s.size(); at += n) {
    std::vector<uint8_t> frame(ZN_VOICE_MAX_FRAME_BYTES);
    ZN_VOICE_EncodeFrame(state, s.data() + at, frame.data(), static_cast<uint16_t>(n));
    frames.push_back(std::move(frame));
  }
  return frames;
}

void BM_VoxEncode(benchmark::State& state) {
  const int type = static_cast<int>(state.range(0));
  const auto& s = Signal();
  const size_t n = static_cast<size_t>(FrameSamples(type));
  alignas(8) uint8_t block[ZN_VOICE_STATE_SIZE];
  uint8_t frame[ZN_VOICE_MAX_FRAME_BYTES];
  int64_t samples = 0;
  for (auto _ : state) {
    ZN_VOICE_EncReset(block, type);
    for (size_t at = 0; at + n <= s.size(); at += n) {
      ZN_VOICE_EncodeFrame(block, s.data() + at, frame, static_cast<uint16_t>(n));
      benchmark::DoNotOptimize(frame);
      samples += static_cast<int64_t>(n);
    }
  }
  state.SetItemsProcessed(samples);
}

void BM_VoxDecode(benchmark::State& state) {
  const int type = static_cast<int>(state.range(0));
  const auto frames = EncodeAll(type);
  alignas(8) uint8_t block[ZN_VOICE_STATE_SIZE];
  int16_t pcm[ZN_VOICE_MAX_DECODED_SAMPLES];
  int64_t samples = 0;
  std::vector<uint8_t> work(ZN_VOICE_MAX_FRAME_BYTES);
  for (auto _ : state) {
    ZN_VOICE_DecReset(block, type);
    for (const auto& f : frames) {
      uint16_t count = 0;
      std::memcpy(work.data(), f.data(), f.size());  // types 36-39 repack the frame in place
      ZN_VOICE_DecodeFrame(block, work.data(), pcm, &count);
      benchmark::DoNotOptimize(pcm);
      samples += count;
    }
  }
  state.SetItemsProcessed(samples);
}

// --- spandsp ---------------------------------------------------------------

void BM_SpandspG711Encode(benchmark::State& state) {
  const bool alaw = state.range(0) == 1;
  const auto& s = Signal();
  std::vector<uint8_t> out(s.size());
  for (auto _ : state) {
    for (size_t i = 0; i < s.size(); ++i) out[i] = alaw ? linear_to_alaw(s[i]) : linear_to_ulaw(s[i]);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(s.size()));
}

void BM_SpandspG711Decode(benchmark::State& state) {
  const bool alaw = state.range(0) == 1;
  const auto& s = Signal();
  std::vector<uint8_t> codes(s.size());
  for (size_t i = 0; i < s.size(); ++i) codes[i] = alaw ? linear_to_alaw(s[i]) : linear_to_ulaw(s[i]);
  std::vector<int16_t> out(s.size());
  for (auto _ : state) {
    for (size_t i = 0; i < s.size(); ++i) out[i] = alaw ? alaw_to_linear(codes[i]) : ulaw_to_linear(codes[i]);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(s.size()));
}

void BM_SpandspG726Encode(benchmark::State& state) {
  const int bits = static_cast<int>(state.range(0));
  const auto& s = Signal();
  std::vector<uint8_t> out(s.size());
  for (auto _ : state) {
    g726_state_t* g = g726_init(nullptr, bits * 8000, G726_ENCODING_LINEAR, G726_PACKING_RIGHT);
    for (size_t at = 0; at + 160 <= s.size(); at += 160) g726_encode(g, out.data(), s.data() + at, 160);
    benchmark::DoNotOptimize(out.data());
    g726_free(g);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(s.size() / 160 * 160));
}

void BM_SpandspG726Decode(benchmark::State& state) {
  const int bits = static_cast<int>(state.range(0));
  const auto& s = Signal();
  g726_state_t* enc = g726_init(nullptr, bits * 8000, G726_ENCODING_LINEAR, G726_PACKING_RIGHT);
  const int per_frame = 160 * bits / 8;
  std::vector<uint8_t> codes(s.size());
  size_t frames = 0;
  for (size_t at = 0; at + 160 <= s.size(); at += 160, ++frames)
    g726_encode(enc, codes.data() + frames * static_cast<size_t>(per_frame), s.data() + at, 160);
  g726_free(enc);
  std::vector<int16_t> out(160);
  for (auto _ : state) {
    g726_state_t* g = g726_init(nullptr, bits * 8000, G726_ENCODING_LINEAR, G726_PACKING_RIGHT);
    for (size_t f = 0; f < frames; ++f)
      g726_decode(g, out.data(), codes.data() + f * static_cast<size_t>(per_frame), per_frame);
    benchmark::DoNotOptimize(out.data());
    g726_free(g);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(frames * 160));
}

void BM_SpandspImaEncode(benchmark::State& state) {
  const auto& s = Signal();
  std::vector<uint8_t> out(200);
  for (auto _ : state) {
    ima_adpcm_state_t* ima = ima_adpcm_init(nullptr, IMA_ADPCM_DVI4, 0);
    for (size_t at = 0; at + 160 <= s.size(); at += 160) ima_adpcm_encode(ima, out.data(), s.data() + at, 160);
    benchmark::DoNotOptimize(out.data());
    ima_adpcm_free(ima);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(s.size() / 160 * 160));
}

void BM_SpandspImaDecode(benchmark::State& state) {
  const auto& s = Signal();
  ima_adpcm_state_t* enc = ima_adpcm_init(nullptr, IMA_ADPCM_DVI4, 0);
  std::vector<std::vector<uint8_t>> chunks;
  for (size_t at = 0; at + 160 <= s.size(); at += 160) {
    std::vector<uint8_t> c(84);
    ima_adpcm_encode(enc, c.data(), s.data() + at, 160);
    chunks.push_back(std::move(c));
  }
  ima_adpcm_free(enc);
  std::vector<int16_t> out(160);
  for (auto _ : state) {
    ima_adpcm_state_t* ima = ima_adpcm_init(nullptr, IMA_ADPCM_DVI4, 0);
    for (const auto& c : chunks) ima_adpcm_decode(ima, out.data(), c.data(), 84);
    benchmark::DoNotOptimize(out.data());
    ima_adpcm_free(ima);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(chunks.size() * 160));
}

// --- FFmpeg ------------------------------------------------------------------

AVCodecContext* OpenCodec(const char* name, bool encoder, int bits) {
  const AVCodec* codec = encoder ? avcodec_find_encoder_by_name(name) : avcodec_find_decoder_by_name(name);
  if (!codec) return nullptr;
  AVCodecContext* ctx = avcodec_alloc_context3(codec);
  ctx->sample_rate = 8000;
  ctx->sample_fmt = AV_SAMPLE_FMT_S16;
  av_channel_layout_default(&ctx->ch_layout, 1);
  if (bits) {
    ctx->bit_rate = bits * 8000;
    ctx->bits_per_coded_sample = bits;
  }
  if (avcodec_open2(ctx, codec, nullptr) < 0) avcodec_free_context(&ctx);
  return ctx;
}

// Encodes the whole signal in 160-sample frames; returns the packets.
std::vector<std::vector<uint8_t>> FfmpegEncodeAll(const char* name, int bits, int64_t* samples = nullptr) {
  std::vector<std::vector<uint8_t>> packets;
  AVCodecContext* ctx = OpenCodec(name, true, bits);
  if (!ctx) return packets;
  const auto& s = Signal();
  AVFrame* frame = av_frame_alloc();
  AVPacket* pkt = av_packet_alloc();
  for (size_t at = 0; at + 160 <= s.size(); at += 160) {
    frame->nb_samples = 160;
    frame->format = AV_SAMPLE_FMT_S16;
    av_channel_layout_default(&frame->ch_layout, 1);
    frame->data[0] = reinterpret_cast<uint8_t*>(const_cast<int16_t*>(s.data() + at));
    frame->linesize[0] = 320;
    if (avcodec_send_frame(ctx, frame) < 0) break;
    while (avcodec_receive_packet(ctx, pkt) == 0) {
      packets.emplace_back(pkt->data, pkt->data + pkt->size);
      av_packet_unref(pkt);
    }
    if (samples) *samples += 160;
  }
  av_packet_free(&pkt);
  av_frame_free(&frame);
  avcodec_free_context(&ctx);
  return packets;
}

void BM_FfmpegEncode(benchmark::State& state, const char* name, int bits) {
  int64_t samples = 0;
  for (auto _ : state) {
    auto packets = FfmpegEncodeAll(name, bits, &samples);
    if (packets.empty()) {
      state.SkipWithError("encoder not available");
      return;
    }
    benchmark::DoNotOptimize(packets.data());
  }
  state.SetItemsProcessed(samples);
}

void BM_FfmpegDecode(benchmark::State& state, const char* name, int bits) {
  const auto packets = FfmpegEncodeAll(name, bits);
  if (packets.empty()) {
    state.SkipWithError("encoder not available");
    return;
  }
  int64_t samples = 0;
  AVPacket* pkt = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  for (auto _ : state) {
    AVCodecContext* ctx = OpenCodec(name, false, bits);
    for (const auto& p : packets) {
      pkt->data = const_cast<uint8_t*>(p.data());
      pkt->size = static_cast<int>(p.size());
      if (avcodec_send_packet(ctx, pkt) < 0) break;
      while (avcodec_receive_frame(ctx, frame) == 0) {
        samples += frame->nb_samples;
        av_frame_unref(frame);
      }
    }
    avcodec_free_context(&ctx);
  }
  av_frame_free(&frame);
  av_packet_free(&pkt);
  state.SetItemsProcessed(samples);
}

// Registration: codec by codec, ours first, then the peers.
void Register() {
  struct Row {
    const char* label;
    int type;       // voxcore type
    int g711;       // spandsp G.711: 1 A-law, 2 u-law, 0 none
    int g726_bits;  // spandsp / FFmpeg G.726 code width, 0 none
    const char* ffmpeg;
    bool ima;
  };
  const Row rows[] = {
      {"G711_alaw", 1, 1, 0, "pcm_alaw", false}, {"G711_ulaw", 2, 2, 0, "pcm_mulaw", false},
      {"G726_16k", 4, 0, 2, "g726le", false},    {"G726_24k", 5, 0, 3, "g726le", false},
      {"G726_32k", 6, 0, 4, "g726le", false},    {"G726_40k", 7, 0, 5, "g726le", false},
      {"G726_32k_msb", 38, 0, 0, nullptr, false}, {"G726_16k_compact", 68, 0, 0, nullptr, false},
      {"IMA_type3", 3, 0, 0, nullptr, true},     {"IMA_type35", 35, 0, 0, nullptr, false},
      {"IMA_type67", 67, 0, 0, nullptr, false},
  };
  for (const Row& r : rows) {
    const std::string base = r.label;
    benchmark::RegisterBenchmark((base + "/encode/voxcore").c_str(), BM_VoxEncode)->Arg(r.type);
    if (r.g711) benchmark::RegisterBenchmark((base + "/encode/spandsp").c_str(), BM_SpandspG711Encode)->Arg(r.g711);
    if (r.g726_bits)
      benchmark::RegisterBenchmark((base + "/encode/spandsp").c_str(), BM_SpandspG726Encode)->Arg(r.g726_bits);
    if (r.ima) benchmark::RegisterBenchmark((base + "/encode/spandsp").c_str(), BM_SpandspImaEncode);
    if (r.ffmpeg)
      benchmark::RegisterBenchmark((base + "/encode/ffmpeg").c_str(), BM_FfmpegEncode, r.ffmpeg, r.g726_bits);

    benchmark::RegisterBenchmark((base + "/decode/voxcore").c_str(), BM_VoxDecode)->Arg(r.type);
    if (r.g711) benchmark::RegisterBenchmark((base + "/decode/spandsp").c_str(), BM_SpandspG711Decode)->Arg(r.g711);
    if (r.g726_bits)
      benchmark::RegisterBenchmark((base + "/decode/spandsp").c_str(), BM_SpandspG726Decode)->Arg(r.g726_bits);
    if (r.ima) benchmark::RegisterBenchmark((base + "/decode/spandsp").c_str(), BM_SpandspImaDecode);
    if (r.ffmpeg)
      benchmark::RegisterBenchmark((base + "/decode/ffmpeg").c_str(), BM_FfmpegDecode, r.ffmpeg, r.g726_bits);
  }
}

}  // namespace

int main(int argc, char** argv) {
  Register();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
