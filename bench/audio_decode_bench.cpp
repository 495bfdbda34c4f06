// Samples per second through each audio decoder, next to the codec library
// it wraps on the same packets in the same run: voxcore for the voice frames,
// libavcodec (decoding only, as `ffmpeg -f null` does before its output) for
// ADPCM and AAC, and libavcodec with a resampler set up and freed for every
// packet, which is what keeping the decoder's resampler saves.
#include <benchmark/benchmark.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <cstring>
#include <string>
#include <vector>

#include "cli/sample/Encoders.h"
#include "engine/ACAACDecoder.h"
#include "engine/AudioDecoders.h"
#include "tests/support/Signals.h"
#include "voice/voxcore.h"

namespace {

constexpr int kSeconds = 10;

struct Stream {
  int codec_id = 0;
  int rate = 0;
  std::vector<std::vector<uint8_t>> packets;
  std::vector<uint8_t> extradata;
  int64_t samples = 0;  // what decoding every packet gives
};

// Ten seconds of speech-like sound in the codec's packets.
Stream Encode(int codec_id) {
  Stream s;
  s.codec_id = codec_id;
  if (codec_id == engine::kVoiceCodec) {
    s.rate = 8000;
    const auto signal = testing_support::SpeechLike(static_cast<size_t>(s.rate) * kSeconds, 3);
    alignas(8) uint8_t state[ZN_VOICE_STATE_SIZE];
    ZN_VOICE_EncReset(state, 35);
    for (size_t at = 0; at + 481 <= signal.size(); at += 481) {  // the recorder's largest frames
      std::vector<uint8_t> frame(ZN_VOICE_MAX_FRAME_BYTES);
      ZN_VOICE_EncodeFrame(state, signal.data() + at, frame.data(), 481);
      frame.resize(4 + 2 * static_cast<size_t>(frame[2]));
      s.packets.push_back(std::move(frame));
      s.samples += 481;
    }
    return s;
  }
  const char* name = codec_id == engine::kAdpcmMs ? "adpcm_ms" : codec_id == engine::kAdpcmSwf ? "adpcm_swf" : "aac";
  s.rate = codec_id == engine::kAdpcmSwf ? 11025 : 8000;
  const auto signal = testing_support::SpeechLike(static_cast<size_t>(s.rate) * kSeconds, 3);
  sample::AudioEncoder encoder;
  std::string error;
  if (!encoder.Open(name, s.rate, error)) return s;
  const size_t n = static_cast<size_t>(encoder.frame_size());
  for (size_t at = 0; at + n <= signal.size(); at += n)
    for (auto& p : encoder.Encode(signal.data() + at, static_cast<int64_t>(at))) s.packets.push_back(std::move(p.data));
  s.extradata = encoder.extradata();
  return s;
}

const Stream& StreamOf(int codec_id) {
  static std::vector<Stream> streams;
  for (const Stream& s : streams)
    if (s.codec_id == codec_id) return s;
  streams.push_back(Encode(codec_id));
  return streams.back();
}

// --- ours --------------------------------------------------------------------

void BM_Ours(benchmark::State& state, int codec_id) {
  const Stream& s = StreamOf(codec_id);
  auto decoder = engine::MakeAudioDecoder(codec_id);
  if (auto* aac = dynamic_cast<engine::ACAACDecoder*>(decoder.get())) aac->SetExtradata(s.extradata);
  int64_t samples = 0;
  for (auto _ : state) {
    for (const auto& p : s.packets) {
      int bytes = 0;
      const uint8_t* pcm = decoder->DecodeAudio(codec_id, p.data(), static_cast<int>(p.size()), &bytes, s.rate);
      benchmark::DoNotOptimize(pcm);
      samples += bytes / 2;
    }
  }
  state.SetItemsProcessed(samples);
}

// --- the libraries underneath --------------------------------------------------

void BM_Voxcore(benchmark::State& state) {
  const Stream& s = StreamOf(engine::kVoiceCodec);
  alignas(8) uint8_t block[ZN_VOICE_STATE_SIZE];
  int16_t pcm[ZN_VOICE_MAX_DECODED_SAMPLES];
  uint8_t frame[ZN_VOICE_MAX_FRAME_BYTES];
  int64_t samples = 0;
  for (auto _ : state) {
    ZN_VOICE_DecReset(block, 35);
    for (const auto& p : s.packets) {
      std::memcpy(frame, p.data(), p.size());
      uint16_t count = 0;
      ZN_VOICE_DecodeFrame(block, frame, pcm, &count);
      benchmark::DoNotOptimize(pcm);
      samples += count;
    }
  }
  state.SetItemsProcessed(samples);
}

AVCodecContext* OpenDecoder(const Stream& s) {
  const AVCodec* codec = avcodec_find_decoder(static_cast<AVCodecID>(s.codec_id));
  AVCodecContext* ctx = avcodec_alloc_context3(codec);
  ctx->sample_rate = s.rate;
  av_channel_layout_default(&ctx->ch_layout, 1);
  if (s.codec_id == engine::kAdpcmMs) ctx->block_align = static_cast<int>(s.packets[0].size());
  if (!s.extradata.empty()) {
    ctx->extradata = static_cast<uint8_t*>(av_mallocz(s.extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    std::memcpy(ctx->extradata, s.extradata.data(), s.extradata.size());
    ctx->extradata_size = static_cast<int>(s.extradata.size());
  }
  if (avcodec_open2(ctx, codec, nullptr) < 0) avcodec_free_context(&ctx);
  return ctx;
}

// convert_each_packet: also to s16 through a resampler made for that packet.
void BM_Libavcodec(benchmark::State& state, int codec_id, bool convert_each_packet) {
  const Stream& s = StreamOf(codec_id);
  AVCodecContext* ctx = OpenDecoder(s);
  if (!ctx) {
    state.SkipWithError("no decoder");
    return;
  }
  AVPacket* pkt = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  std::vector<uint8_t> out(384000);
  int64_t samples = 0;
  for (auto _ : state) {
    avcodec_flush_buffers(ctx);
    for (const auto& p : s.packets) {
      pkt->data = const_cast<uint8_t*>(p.data());
      pkt->size = static_cast<int>(p.size());
      if (avcodec_send_packet(ctx, pkt) < 0) continue;
      while (avcodec_receive_frame(ctx, frame) == 0) {
        if (convert_each_packet) {
          SwrContext* swr = nullptr;
          swr_alloc_set_opts2(&swr, &frame->ch_layout, AV_SAMPLE_FMT_S16, frame->sample_rate, &frame->ch_layout,
                              static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr);
          swr_init(swr);
          uint8_t* o = out.data();
          samples += swr_convert(swr, &o, frame->nb_samples + 256, const_cast<const uint8_t**>(frame->extended_data),
                                 frame->nb_samples);
          swr_free(&swr);
        } else {
          samples += frame->nb_samples;
        }
        av_frame_unref(frame);
      }
    }
  }
  av_frame_free(&frame);
  av_packet_free(&pkt);
  avcodec_free_context(&ctx);
  state.SetItemsProcessed(samples);
}

void Register() {
  struct Row {
    const char* label;
    int codec_id;
  };
  const Row rows[] = {{"voice_type35", engine::kVoiceCodec},
                      {"adpcm_ms_8k", engine::kAdpcmMs},
                      {"adpcm_swf_11k", engine::kAdpcmSwf},
                      {"aac_8k", engine::kAac}};
  for (const Row& r : rows) {
    const std::string base = r.label;
    benchmark::RegisterBenchmark((base + "/ours").c_str(), BM_Ours, r.codec_id);
    if (r.codec_id == engine::kVoiceCodec) {
      benchmark::RegisterBenchmark((base + "/voxcore").c_str(), BM_Voxcore);
      continue;
    }
    benchmark::RegisterBenchmark((base + "/libavcodec").c_str(), BM_Libavcodec, r.codec_id, false);
    benchmark::RegisterBenchmark((base + "/libavcodec+swr_each_packet").c_str(), BM_Libavcodec, r.codec_id, true);
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
