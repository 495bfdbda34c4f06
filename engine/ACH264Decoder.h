#pragma once
// A channel's video decoder on libavcodec: H.264 or HEVC, as the container's
// codec id says, or, for an id that names neither, as the first NAL unit
// after a 3- or 4-byte start code says, opened with the stream's extradata
// when the container has one. It reopens when the picture size or
// the codec changes (or after SetWidth(0)). The picture a packet gives stays
// in the decoder until the next packet, and is written as one contiguous
// planar YUV 4:2:0 block into the caller's buffer (at once, or later with
// CopyPicture); pictures in other layouts are converted to it.
// libav's messages about the stream count for the channel (see LibavLog.h).
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "engine/ACDecoder.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace engine {

class ACH264Decoder : public ACDecoder {
 public:
  ACH264Decoder() = default;
  ~ACH264Decoder() override;
  ACH264Decoder(const ACH264Decoder&) = delete;
  ACH264Decoder& operator=(const ACH264Decoder&) = delete;

  // Returns `output` (whether or not a picture came out; key_frame is written
  // only when one did), or nullptr without data or a usable decoder. A null
  // `output` leaves the picture for CopyPicture.
  uint8_t* Decode(int channel, const uint8_t* data, int size, int* key_frame, int width, int height, uint8_t* output,
                  size_t output_capacity);
  // Writes the last picture (picture_width() x picture_height(), planar 4:2:0);
  // false when there is none or it does not fit.
  bool CopyPicture(uint8_t* output, size_t output_capacity) const;
  // The codec id that comes with the packets (the reader's: 28 H.264, 173 HEVC).
  void SetCodecId(int codec_id) { codec_id_ = codec_id; }
  // The stream's decoder set-up from the container: an avcC / hvcC record
  // (packets then carry length-prefixed NAL units) or parameter sets in
  // Annex B. A change reopens the decoder on the next packet.
  void SetExtradata(std::span<const uint8_t> extradata);
  void SetWidth(int width) override { opened_width_ = width; }
  void SetHeight(int height) override { opened_height_ = height; }
  int Status() const override { return last_result_; }

  bool got_picture() const { return got_picture_; }
  // The last packet was refused or gave an error: the decoder would not open,
  // rejected the packet, reported an error while decoding it or marked its
  // picture as damaged.
  bool failed() const { return failed_; }
  int picture_width() const { return picture_width_; }
  int picture_height() const { return picture_height_; }
  bool is_hevc() const { return hevc_; }

  // HEVC by the codec id, or by the first NAL unit's header when the id names
  // neither codec.
  static bool IsHevc(int codec_id, const uint8_t* data, int size);

 private:
  bool Reopen(bool hevc, int channel);
  void Close();
  // Takes the decoder's frame as the picture: its own buffer when it is
  // planar 4:2:0, else a 4:2:0 conversion of it. False when it cannot be had.
  bool TakePicture();

  AVCodecContext* ctx_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVFrame* picture_ = nullptr;  // the last 4:2:0 picture out
  AVPacket* packet_ = nullptr;
  SwsContext* scaler_ = nullptr;  // for pictures that are not planar 4:2:0
  int opened_width_ = -1;
  int opened_height_ = -1;
  int last_result_ = 0;
  int codec_id_ = 0;
  std::vector<uint8_t> extradata_;
  bool hevc_ = false;
  bool got_picture_ = false;
  bool failed_ = false;
  int picture_width_ = 0;
  int picture_height_ = 0;
};

}  // namespace engine
