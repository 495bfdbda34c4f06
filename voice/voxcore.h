/* voxcore: voice codec frames (G.711, IMA ADPCM, G.726) behind seven functions.
 *
 * A frame is little-endian: 00, flag 01, payload length in 16-bit words, 00,
 * then the payload. All state lives in a block the caller owns: one block per
 * stream, any number of streams on any threads, no globals.
 *
 * Codec types: 1 A-law, 2 u-law, 65/66 the same with each pair of code bytes
 * exchanged; 3 IMA ADPCM with its state in a 2-word header, 35 with the first
 * sample in the header, 67 codes only (state carried in the block); 4-7 G.726
 * at 16/24/32/40 kbit/s packed LSB first, 36-39 the same packed MSB first,
 * 68 compact 16 kbit/s G.726 (eight codes a word). Transcoding types 97-100
 * convert 65->1, 66->2, 67->3, 68->4 in place.
 */
#ifndef VOXCORE_H
#define VOXCORE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(VOXCORE_BUILDING)
#define VOXCORE_API __attribute__((visibility("default")))
#else
#define VOXCORE_API
#endif

/* Bytes a codec state block must have; a transcoding block holds the decoder
 * half at byte 2048. */
#define ZN_VOICE_STATE_SIZE 104
#define ZN_VOICE_TRANSCODE_DECODER_OFFSET 2048
#define ZN_VOICE_TRANSCODE_STATE_SIZE (ZN_VOICE_TRANSCODE_DECODER_OFFSET + ZN_VOICE_STATE_SIZE)
/* Largest frame (4 + 2 * 255 bytes) and the most samples one frame can yield:
 * type 67 with 255 payload words gives 4 * 255 = 1020 (types 3 and 35 give
 * 1012 and 1013). A caller's sample buffer must hold this many. */
#define ZN_VOICE_MAX_FRAME_BYTES 514
#define ZN_VOICE_MAX_DECODED_SAMPLES 1020

#define ZN_VOICE_OK 0x00000000u
#define ZN_VOICE_ENC_TYPE_UNSUPPORTED 0xA1220001u
#define ZN_VOICE_ENC_BAD_SAMPLE_COUNT 0xA1220002u
#define ZN_VOICE_DEC_TYPE_UNSUPPORTED 0xA1220011u
#define ZN_VOICE_DEC_BAD_LENGTH 0xA1220012u
#define ZN_VOICE_DEC_BAD_FLAG 0xA1220013u
#define ZN_VOICE_NULL_STATE 0xA1220101u
#define ZN_VOICE_NULL_INPUT 0xA1220102u
#define ZN_VOICE_NULL_OUTPUT 0xA1220103u
#define ZN_VOICE_TRANS_NULL_STATE 0xA1221001u
#define ZN_VOICE_TRANS_TYPE_UNSUPPORTED 0xA1221002u

/* Writes "ZnKQR_AUDIO_VERSION_V3.0.6.31" and a NUL (30 bytes). 0xFFFFFFFF for NULL. */
VOXCORE_API uint32_t ZN_VOICE_GetVersion(char* version);
VOXCORE_API uint32_t ZN_VOICE_EncReset(void* state, int32_t type);
VOXCORE_API uint32_t ZN_VOICE_DecReset(void* state, int32_t type);
/* count: 80..480 in steps of 80 (type 35: 1..481, one more than a multiple of
 * 80). Writes 4 + 2 * length bytes to frame. */
VOXCORE_API uint32_t ZN_VOICE_EncodeFrame(void* state, const int16_t* samples, uint8_t* frame,
                                          uint16_t count);
/* samples must hold ZN_VOICE_MAX_DECODED_SAMPLES. Types 36-39 repack the
 * frame's payload in place. */
VOXCORE_API uint32_t ZN_VOICE_DecodeFrame(void* state, uint8_t* frame, int16_t* samples,
                                          uint16_t* count);
VOXCORE_API uint32_t ZN_VOICE_TransCodeReset(void* state, int32_t type);
/* Converts in place; for type 99 the frame grows by 4 bytes (buffer of
 * ZN_VOICE_MAX_FRAME_BYTES is always enough). */
VOXCORE_API uint32_t ZN_VOICE_TransCodeFrame(void* state, uint8_t* frame);

#ifdef __cplusplus
}
#endif

#endif /* VOXCORE_H */
