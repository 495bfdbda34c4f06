#pragma once
// Buffered byte I/O for the reader's demuxers and the clip writer: a
// ByteIOContext wraps an opened protocol handle (or a memory buffer) and offers
// big- and little-endian access, buffered block reads, writes, seeks and the
// end-of-file state. Protocols are found by the path's prefix in a registry
// that starts with "file".
//
// Results: 0 or a positive count on success, negated errno values on failure.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qvv {

inline constexpr int kErrNotFound = -2;     // protocol unknown or file not opened
inline constexpr int kErrIO = -5;
inline constexpr int kErrNoMemory = -12;
inline constexpr int kErrInvalid = -22;
inline constexpr int kErrEndOfStream = -32;  // end of stream, or not supported

inline constexpr int kUrlReadOnly = 0;
inline constexpr int kUrlWriteOnly = 1;
inline constexpr int kUrlReadWrite = 2;

// Seek "whence" for protocols: 0, 1, 2 as in lseek, and a query for the size.
inline constexpr int kSeekSize = 0x10000;

inline constexpr int kDefaultBufferSize = 32768;

struct URLContext;

struct URLProtocol {
  const char* name;
  int (*url_open)(URLContext* h, const char* path, int flags);
  int (*url_read)(URLContext* h, uint8_t* buf, int size);
  int (*url_write)(URLContext* h, const uint8_t* buf, int size);
  int64_t (*url_seek)(URLContext* h, int64_t pos, int whence);
  int (*url_close)(URLContext* h);
  URLProtocol* next;
  int (*url_read_pause)(URLContext* h, int pause);
  int64_t (*url_read_seek)(URLContext* h, int stream_index, int64_t timestamp, int flags);
};

// One opened path.
struct URLContext {
  const URLProtocol* prot = nullptr;
  int flags = 0;            // kUrlReadOnly / kUrlWriteOnly / kUrlReadWrite
  int is_streamed = 0;      // cannot seek
  int max_packet_size = 0;  // 0: none
  void* priv_data = nullptr;
  std::string filename;
};

struct ByteIOContext {
  uint8_t* buffer = nullptr;  // owned_buffer, or a caller's buffer (init_put_byte)
  int buffer_size = 0;
  uint8_t* buf_ptr = nullptr;  // current position in buffer
  uint8_t* buf_end = nullptr;  // end of valid data (reading) or of the buffer (writing)
  void* opaque = nullptr;      // the URLContext, or the memory / dynamic buffer state
  int (*read_packet)(void* opaque, uint8_t* buf, int size) = nullptr;
  int (*write_packet)(void* opaque, const uint8_t* buf, int size) = nullptr;
  int64_t (*seek)(void* opaque, int64_t offset, int whence) = nullptr;
  int64_t pos = 0;  // file position after the buffer's data (reading) or at its start (writing)
  int must_flush = 0;
  int eof_reached = 0;
  int write_flag = 0;
  int is_streamed = 0;
  int max_packet_size = 0;
  unsigned long checksum = 0;
  uint8_t* checksum_ptr = nullptr;
  unsigned long (*update_checksum)(unsigned long checksum, const uint8_t* buf, unsigned int size) = nullptr;
  int error = 0;  // last negative result of a protocol operation
  int (*read_pause)(void* opaque, int pause) = nullptr;
  int64_t (*read_seek)(void* opaque, int stream_index, int64_t timestamp, int flags) = nullptr;
  uint64_t read_calls = 0;  // protocol reads made, and the bytes they brought:
  uint64_t bytes_read = 0;  // tests and fuzz targets bound a reader's work by them
  std::unique_ptr<uint8_t[]> owned_buffer;
  // Owner of opaque for memory and dynamic contexts (empty for protocol handles).
  std::shared_ptr<void> owned_opaque;
};

// ---- protocol layer ----
int register_protocol(URLProtocol* protocol);
const URLProtocol* find_protocol(const std::string& path);
int url_open(URLContext** h, const char* path, int flags);
int url_read(URLContext* h, uint8_t* buf, int size);
int url_write(URLContext* h, const uint8_t* buf, int size);
int64_t url_seek(URLContext* h, int64_t pos, int whence);
int url_close(URLContext* h);
int64_t url_filesize(URLContext* h);
int url_is_streamed(URLContext* h);
int url_get_max_packet_size(URLContext* h);
const char* url_get_filename(URLContext* h);

// ---- opening and closing a buffered context ----
int url_fdopen(ByteIOContext** s, URLContext* h);
int url_fopen(ByteIOContext** s, const char* path, int flags);
ByteIOContext* url_open_file(const char* path, int flags);
int url_fclose(ByteIOContext* s);
// For writers: flushes, closes and clears `s`; the first write error, else the close result.
int url_fclose_written(ByteIOContext*& s);
int url_setbufsize(ByteIOContext* s, int buf_size);
URLContext* url_fileno(ByteIOContext* s);

// Reading over a caller's buffer: reading ends at its end; seeks stay inside.
// The caller keeps the bytes alive until url_fclose.
ByteIOContext* url_open_memory(const uint8_t* data, size_t size);
// Plain memory context as in init_put_byte: no protocol behind it.
int init_put_byte(ByteIOContext* s, uint8_t* buffer, int buffer_size, int write_flag, void* opaque,
                  int (*read_packet)(void*, uint8_t*, int), int (*write_packet)(void*, const uint8_t*, int),
                  int64_t (*seek)(void*, int64_t, int));

// Dynamic write buffers; url_close_dyn_buf hands over the bytes and frees the context.
int url_open_dyn_buf(ByteIOContext** s);
int url_open_dyn_packet_buf(ByteIOContext** s, int max_packet_size);
int url_close_dyn_buf(ByteIOContext* s, std::vector<uint8_t>* out);

// ---- reading ----
int get_byte(ByteIOContext* s);     // 0 at end of file
int url_fgetc(ByteIOContext* s);    // -1 at end of file
unsigned int get_le16(ByteIOContext* s);
unsigned int get_le24(ByteIOContext* s);
unsigned int get_le32(ByteIOContext* s);
uint64_t get_le64(ByteIOContext* s);
unsigned int get_be16(ByteIOContext* s);
unsigned int get_be24(ByteIOContext* s);
unsigned int get_be32(ByteIOContext* s);
uint64_t get_be64(ByteIOContext* s);
int get_buffer(ByteIOContext* s, uint8_t* buf, int size);
int get_partial_buffer(ByteIOContext* s, uint8_t* buf, int size);
// Reads up to and including a NUL, storing at most maxlen - 1 characters; returns bytes consumed.
int get_strz(ByteIOContext* s, char* buf, int maxlen);
// Reads a line up to and including "\n" into buf (at most maxlen - 1 characters kept).
char* url_fgets(ByteIOContext* s, char* buf, int buf_size);
// Variable-length number of 7-bit groups, high bit = more.
uint64_t ff_get_v(ByteIOContext* s);
// The next `n` bytes (at most the buffer size) without consuming them, or
// nullptr when fewer remain. Unread bytes move to the buffer's start and the
// rest is filled behind them, so a scanner that peeks and steps one byte at a
// time reads every byte of the file once.
const uint8_t* url_fpeek(ByteIOContext* s, int n);
// Copies `n` bytes at the absolute position `pos` into `out` without moving
// the reading position or dropping the buffer: from the buffer when they are
// in it, else by a positioned read of just those bytes. The count copied.
int url_fpeek_at(ByteIOContext* s, int64_t pos, uint8_t* out, int n);
// Consumes `n` bytes that url_fpeek has shown.
inline void url_fconsume(ByteIOContext* s, int n) {
  if (n > 0 && n <= s->buf_end - s->buf_ptr) s->buf_ptr += n;
}

// ---- writing ----
void put_byte(ByteIOContext* s, int b);
void put_le16(ByteIOContext* s, unsigned int v);
void put_le24(ByteIOContext* s, unsigned int v);
void put_le32(ByteIOContext* s, unsigned int v);
void put_le64(ByteIOContext* s, uint64_t v);
void put_be16(ByteIOContext* s, unsigned int v);
void put_be24(ByteIOContext* s, unsigned int v);
void put_be32(ByteIOContext* s, unsigned int v);
void put_be64(ByteIOContext* s, uint64_t v);
void put_buffer(ByteIOContext* s, const uint8_t* buf, int size);
void put_strz(ByteIOContext* s, const char* str);  // with the terminator
void put_tag(ByteIOContext* s, const char* tag);   // without
void put_flush_packet(ByteIOContext* s);

// ---- positioning ----
int64_t url_fseek(ByteIOContext* s, int64_t offset, int whence);  // whence 0 or 1; else -22
int64_t url_fskip(ByteIOContext* s, int64_t offset);
int64_t url_ftell(ByteIOContext* s);
int64_t url_fsize(ByteIOContext* s);
int url_feof(ByteIOContext* s);
int url_ferror(ByteIOContext* s);
int url_fget_max_packet_size(ByteIOContext* s);

}  // namespace qvv
