#include "QVVReader/ByteIO.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

#include "QVVReader/Protocols.h"

namespace qvv {
namespace {

// No reader needs a buffer this large; asking for one is treated as running out of memory.
constexpr int kMaxBufferSize = 256 << 20;

// Registry of protocols: a linked list that starts with "file".
std::mutex g_registry_mutex;
URLProtocol* g_first_protocol = &file_protocol;

// Protocol name of a path: two or more letters before a colon; else "file"
// (a single letter is a drive name).
std::string ProtocolName(const char* path) {
  size_t letters = 0;
  while (path[letters] && std::isalpha(static_cast<unsigned char>(path[letters]))) ++letters;
  if (letters >= 2 && path[letters] == ':') return std::string(path, std::min<size_t>(letters, 127));
  return "file";
}

int ReadWrap(void* opaque, uint8_t* buf, int size) { return url_read(static_cast<URLContext*>(opaque), buf, size); }
int WriteWrap(void* opaque, const uint8_t* buf, int size) {
  return url_write(static_cast<URLContext*>(opaque), buf, size);
}
int64_t SeekWrap(void* opaque, int64_t offset, int whence) {
  return url_seek(static_cast<URLContext*>(opaque), offset, whence);
}
int ReadPauseWrap(void* opaque, int pause) {
  auto* h = static_cast<URLContext*>(opaque);
  return h->prot->url_read_pause ? h->prot->url_read_pause(h, pause) : kErrEndOfStream;
}
int64_t ReadSeekWrap(void* opaque, int stream_index, int64_t timestamp, int flags) {
  auto* h = static_cast<URLContext*>(opaque);
  return h->prot->url_read_seek ? h->prot->url_read_seek(h, stream_index, timestamp, flags) : kErrEndOfStream;
}

// ---- reading over memory ----
struct MemoryReader {
  const uint8_t* data;
  int64_t size;
  int64_t pos = 0;
};

int MemoryRead(void* opaque, uint8_t* buf, int size) {
  auto* m = static_cast<MemoryReader*>(opaque);
  const int64_t n = std::clamp<int64_t>(m->size - m->pos, 0, size);
  if (n > 0) std::memcpy(buf, m->data + m->pos, static_cast<size_t>(n));
  m->pos += n;
  return static_cast<int>(n);
}

int64_t MemorySeek(void* opaque, int64_t offset, int whence) {
  auto* m = static_cast<MemoryReader*>(opaque);
  if (whence == kSeekSize) return m->size;
  int64_t target = offset;
  if (whence == SEEK_CUR) target += m->pos;
  if (whence == SEEK_END) target += m->size;
  if (target < 0) return kErrInvalid;
  m->pos = target;
  return target;
}

// ---- dynamic write buffers ----
constexpr int64_t kDynMaxSize = 0x3FFFFFFF;

struct DynBuffer {
  std::vector<uint8_t> data;  // data.size() is the allocated size
  int64_t pos = 0;
  int64_t size = 0;
};

int DynWrite(void* opaque, const uint8_t* buf, int size) {
  auto* d = static_cast<DynBuffer*>(opaque);
  const int64_t end = d->pos + size;
  if (end > kDynMaxSize) return -1;
  int64_t allocated = static_cast<int64_t>(d->data.size());
  while (end > allocated) allocated = allocated ? allocated + allocated / 2 + 1 : end;
  if (allocated > static_cast<int64_t>(d->data.size())) {
    try {
      d->data.resize(static_cast<size_t>(std::min(allocated, kDynMaxSize)));
    } catch (const std::bad_alloc&) {
      return kErrNoMemory;
    }
  }
  std::memcpy(d->data.data() + d->pos, buf, static_cast<size_t>(size));
  d->pos = end;
  d->size = std::max(d->size, end);
  return size;
}

int DynPacketWrite(void* opaque, const uint8_t* buf, int size) {
  const uint8_t length[4] = {static_cast<uint8_t>(size >> 24), static_cast<uint8_t>(size >> 16),
                             static_cast<uint8_t>(size >> 8), static_cast<uint8_t>(size)};
  const int r = DynWrite(opaque, length, 4);
  return r < 0 ? r : DynWrite(opaque, buf, size);
}

int64_t DynSeek(void* opaque, int64_t offset, int whence) {
  auto* d = static_cast<DynBuffer*>(opaque);
  if (whence == SEEK_CUR) offset += d->pos;
  if (whence == SEEK_END) offset += d->size;
  if (whence == kSeekSize) return d->size;
  if (offset < 0 || offset > 0x7FFFFFFF) return -1;
  d->pos = offset;
  return 0;
}

int OpenDyn(ByteIOContext** out, int io_size, bool packets) {
  auto dyn = std::make_shared<DynBuffer>();
  auto* s = new (std::nothrow) ByteIOContext;
  if (!s) return kErrNoMemory;
  s->owned_buffer.reset(new (std::nothrow) uint8_t[static_cast<size_t>(io_size)]());
  if (!s->owned_buffer) {
    delete s;
    return kErrNoMemory;
  }
  init_put_byte(s, s->owned_buffer.get(), io_size, 1, dyn.get(), nullptr, packets ? DynPacketWrite : DynWrite,
                packets ? nullptr : DynSeek);
  s->max_packet_size = packets ? io_size : 0;
  s->owned_opaque = dyn;
  *out = s;
  return 0;
}

void FillBuffer(ByteIOContext* s) {
  uint8_t* dst = (s->buf_end - s->buffer < s->buffer_size) ? s->buf_ptr : s->buffer;
  int len = s->buffer_size - static_cast<int>(dst - s->buffer);
  if (s->eof_reached) return;
  if (s->update_checksum && dst == s->buffer) {
    if (s->buf_end > s->checksum_ptr)
      s->checksum = s->update_checksum(s->checksum, s->checksum_ptr, static_cast<unsigned>(s->buf_end - s->checksum_ptr));
    s->checksum_ptr = s->buffer;
  }
  len = s->read_packet ? s->read_packet(s->opaque, dst, len) : 0;
  ++s->read_calls;
  if (len <= 0) {
    s->eof_reached = 1;
    if (len < 0) s->error = len;
  } else {
    s->pos += len;
    s->bytes_read += static_cast<uint64_t>(len);
    s->buf_ptr = dst;
    s->buf_end = dst + len;
  }
}

void FlushBuffer(ByteIOContext* s) {
  if (s->buf_ptr > s->buffer) {
    const int n = static_cast<int>(s->buf_ptr - s->buffer);
    if (s->write_packet && !s->error) {
      const int r = s->write_packet(s->opaque, s->buffer, n);
      if (r < 0) s->error = r;
    }
    if (s->update_checksum) {
      s->checksum = s->update_checksum(s->checksum, s->checksum_ptr, static_cast<unsigned>(s->buf_ptr - s->checksum_ptr));
      s->checksum_ptr = s->buffer;
    }
    s->pos += n;
  }
  s->buf_ptr = s->buffer;
}

}  // namespace

// ---------------------------------------------------------------- protocols

int register_protocol(URLProtocol* protocol) {
  std::lock_guard lock(g_registry_mutex);
  URLProtocol** p = &g_first_protocol;
  while (*p) {
    if (*p == protocol) return 0;
    p = &(*p)->next;
  }
  *p = protocol;
  protocol->next = nullptr;
  return 0;
}

const URLProtocol* find_protocol(const std::string& path) {
  const std::string name = ProtocolName(path.c_str());
  std::lock_guard lock(g_registry_mutex);
  for (const URLProtocol* p = g_first_protocol; p; p = p->next) {
    if (name == p->name) return p;
  }
  return nullptr;
}

int url_open(URLContext** out, const char* path, int flags) {
  *out = nullptr;
  if (!path) return kErrInvalid;
  const URLProtocol* prot = find_protocol(path);
  if (!prot) return kErrNotFound;
  auto* h = new (std::nothrow) URLContext;
  if (!h) return kErrNoMemory;
  h->prot = prot;
  h->flags = flags;
  h->filename = path;
  const int r = prot->url_open(h, path, flags);
  if (r < 0) {
    delete h;
    return r;
  }
  if ((flags & (kUrlWriteOnly | kUrlReadWrite)) || prot == &file_protocol) {
    if (url_seek(h, 0, SEEK_SET) < 0) h->is_streamed = 1;
  }
  *out = h;
  return 0;
}

int url_read(URLContext* h, uint8_t* buf, int size) {
  if (h->flags & kUrlWriteOnly) return kErrIO;
  return h->prot->url_read(h, buf, size);
}

int url_write(URLContext* h, const uint8_t* buf, int size) {
  if (!(h->flags & (kUrlWriteOnly | kUrlReadWrite))) return kErrIO;
  if (h->max_packet_size && size > h->max_packet_size) return kErrIO;
  return h->prot->url_write(h, buf, size);
}

int64_t url_seek(URLContext* h, int64_t pos, int whence) {
  if (!h->prot->url_seek) return kErrEndOfStream;
  return h->prot->url_seek(h, pos, whence);
}

int url_close(URLContext* h) {
  if (!h) return 0;
  const int r = h->prot->url_close ? h->prot->url_close(h) : 0;
  delete h;
  return r;
}

int64_t url_filesize(URLContext* h) {
  int64_t size = url_seek(h, 0, kSeekSize);
  if (size < 0) {
    const int64_t pos = url_seek(h, 0, SEEK_CUR);
    size = url_seek(h, -1, SEEK_END);
    if (size < 0) return size;
    ++size;
    url_seek(h, pos, SEEK_SET);
  }
  return size;
}

int url_is_streamed(URLContext* h) { return h->is_streamed; }
int url_get_max_packet_size(URLContext* h) { return h->max_packet_size; }
const char* url_get_filename(URLContext* h) { return h->filename.c_str(); }

// ---------------------------------------------------------------- contexts

int init_put_byte(ByteIOContext* s, uint8_t* buffer, int buffer_size, int write_flag, void* opaque,
                  int (*read_packet)(void*, uint8_t*, int), int (*write_packet)(void*, const uint8_t*, int),
                  int64_t (*seek)(void*, int64_t, int)) {
  s->buffer = buffer;
  s->buffer_size = buffer_size;
  s->buf_ptr = buffer;
  s->write_flag = write_flag;
  s->buf_end = write_flag ? buffer + buffer_size : buffer;
  s->opaque = opaque;
  s->read_packet = read_packet;
  s->write_packet = write_packet;
  s->seek = seek;
  s->pos = 0;
  s->must_flush = 0;
  s->eof_reached = 0;
  s->error = 0;
  s->is_streamed = 0;
  s->max_packet_size = 0;
  s->update_checksum = nullptr;
  if (!read_packet && !write_flag) {  // the caller's buffer is the whole input
    s->pos = buffer_size;
    s->buf_end = buffer + buffer_size;
  }
  s->read_pause = nullptr;
  s->read_seek = nullptr;
  return 0;
}

int url_fdopen(ByteIOContext** out, URLContext* h) {
  *out = nullptr;
  const int size = h->max_packet_size ? h->max_packet_size : kDefaultBufferSize;
  auto* s = new (std::nothrow) ByteIOContext;
  if (!s) return kErrNoMemory;
  s->owned_buffer.reset(new (std::nothrow) uint8_t[static_cast<size_t>(size)]());
  if (!s->owned_buffer) {
    delete s;
    return kErrNoMemory;
  }
  init_put_byte(s, s->owned_buffer.get(), size, (h->flags & (kUrlWriteOnly | kUrlReadWrite)) ? 1 : 0, h,
                ReadWrap, WriteWrap, SeekWrap);
  s->is_streamed = h->is_streamed;
  s->max_packet_size = h->max_packet_size;
  if (h->prot) {
    if (h->prot->url_read_pause) s->read_pause = ReadPauseWrap;
    if (h->prot->url_read_seek) s->read_seek = ReadSeekWrap;
  }
  *out = s;
  return 0;
}

int url_fopen(ByteIOContext** out, const char* path, int flags) {
  *out = nullptr;
  URLContext* h = nullptr;
  int r = url_open(&h, path, flags);
  if (r < 0) return r;
  r = url_fdopen(out, h);
  if (r < 0) url_close(h);
  return r;
}

ByteIOContext* url_open_file(const char* path, int flags) {
  ByteIOContext* s = nullptr;
  return url_fopen(&s, path, flags) < 0 ? nullptr : s;
}

int url_fclose(ByteIOContext* s) {
  if (!s) return 0;
  if (s->write_flag) put_flush_packet(s);
  int r = 0;
  if (!s->owned_opaque && s->read_packet == ReadWrap) r = url_close(static_cast<URLContext*>(s->opaque));
  delete s;
  return r;
}

int url_fclose_written(ByteIOContext*& s) {
  if (!s) return kErrInvalid;
  put_flush_packet(s);
  const int error = url_ferror(s);
  const int closed = url_fclose(s);
  s = nullptr;
  return error < 0 ? error : closed;
}

URLContext* url_fileno(ByteIOContext* s) {
  return (!s->owned_opaque && s->read_packet == ReadWrap) ? static_cast<URLContext*>(s->opaque) : nullptr;
}

int url_setbufsize(ByteIOContext* s, int buf_size) {
  if (buf_size <= 0) return kErrInvalid;
  if (buf_size > kMaxBufferSize) return kErrNoMemory;
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[static_cast<size_t>(buf_size)]());
  if (!buffer) return kErrNoMemory;
  if (s->write_flag) FlushBuffer(s);
  s->owned_buffer = std::move(buffer);
  s->buffer = s->owned_buffer.get();
  s->buffer_size = buf_size;
  s->buf_ptr = s->buffer;
  s->buf_end = s->write_flag ? s->buffer + buf_size : s->buffer;
  return 0;
}

ByteIOContext* url_open_memory(const uint8_t* data, size_t size) {
  auto reader = std::make_shared<MemoryReader>(MemoryReader{data, static_cast<int64_t>(size)});
  auto* s = new (std::nothrow) ByteIOContext;
  if (!s) return nullptr;
  s->owned_buffer.reset(new (std::nothrow) uint8_t[kDefaultBufferSize]());
  if (!s->owned_buffer) {
    delete s;
    return nullptr;
  }
  init_put_byte(s, s->owned_buffer.get(), kDefaultBufferSize, 0, reader.get(), MemoryRead, nullptr, MemorySeek);
  s->owned_opaque = reader;
  return s;
}

int url_open_dyn_buf(ByteIOContext** s) { return OpenDyn(s, 1024, false); }

int url_open_dyn_packet_buf(ByteIOContext** s, int max_packet_size) {
  if (max_packet_size <= 0) return kErrInvalid;
  return OpenDyn(s, max_packet_size, true);
}

int url_close_dyn_buf(ByteIOContext* s, std::vector<uint8_t>* out) {
  put_flush_packet(s);
  auto* d = static_cast<DynBuffer*>(s->opaque);
  const int size = static_cast<int>(d->size);
  if (out) {
    d->data.resize(static_cast<size_t>(d->size));
    *out = std::move(d->data);
  }
  delete s;
  return size;
}

// ---------------------------------------------------------------- reading

// A context opened for writing holds unwritten bytes in its buffer, not input:
// reads see nothing, and the bytes still to be written stay as they are.
static bool RefuseRead(const ByteIOContext* s) { return s->write_flag != 0; }

int get_byte(ByteIOContext* s) {
  if (s->buf_ptr < s->buf_end && !s->write_flag) return *s->buf_ptr++;
  if (RefuseRead(s)) return 0;
  FillBuffer(s);
  if (s->buf_ptr < s->buf_end) return *s->buf_ptr++;
  return 0;
}

int url_fgetc(ByteIOContext* s) {
  if (s->buf_ptr < s->buf_end && !s->write_flag) return *s->buf_ptr++;
  if (RefuseRead(s)) return -1;
  FillBuffer(s);
  if (s->buf_ptr < s->buf_end) return *s->buf_ptr++;
  return -1;
}

unsigned int get_le16(ByteIOContext* s) {
  const unsigned lo = static_cast<unsigned>(get_byte(s));
  return lo | (static_cast<unsigned>(get_byte(s)) << 8);
}
unsigned int get_le24(ByteIOContext* s) {
  const unsigned lo = get_le16(s);
  return lo | (static_cast<unsigned>(get_byte(s)) << 16);
}
unsigned int get_le32(ByteIOContext* s) {
  const unsigned lo = get_le16(s);
  return lo | (get_le16(s) << 16);
}
uint64_t get_le64(ByteIOContext* s) {
  const uint64_t lo = get_le32(s);
  return lo | (static_cast<uint64_t>(get_le32(s)) << 32);
}
unsigned int get_be16(ByteIOContext* s) {
  const unsigned hi = static_cast<unsigned>(get_byte(s)) << 8;
  return hi | static_cast<unsigned>(get_byte(s));
}
unsigned int get_be24(ByteIOContext* s) {
  const unsigned hi = get_be16(s) << 8;
  return hi | static_cast<unsigned>(get_byte(s));
}
unsigned int get_be32(ByteIOContext* s) {
  const unsigned hi = get_be16(s) << 16;
  return hi | get_be16(s);
}
uint64_t get_be64(ByteIOContext* s) {
  const uint64_t hi = static_cast<uint64_t>(get_be32(s)) << 32;
  return hi | get_be32(s);
}

int get_buffer(ByteIOContext* s, uint8_t* buf, int size) {
  if (RefuseRead(s)) return 0;
  const int wanted = size;
  while (size > 0) {
    int len = std::min(static_cast<int>(s->buf_end - s->buf_ptr), size);
    if (len == 0) {
      if (size > s->buffer_size && !s->update_checksum) {
        // Large reads go straight to the destination.
        len = s->read_packet ? s->read_packet(s->opaque, buf, size) : 0;
        ++s->read_calls;
        if (len <= 0) {
          s->eof_reached = 1;
          if (len < 0) s->error = len;
          break;
        }
        s->pos += len;
        s->bytes_read += static_cast<uint64_t>(len);
        size -= len;
        buf += len;
        s->buf_ptr = s->buffer;
        s->buf_end = s->buffer;
      } else {
        FillBuffer(s);
        if (s->buf_end == s->buf_ptr) break;
      }
    } else {
      std::memcpy(buf, s->buf_ptr, static_cast<size_t>(len));
      buf += len;
      s->buf_ptr += len;
      size -= len;
    }
  }
  return wanted - size;
}

const uint8_t* url_fpeek(ByteIOContext* s, int n) {
  if (n <= 0 || n > s->buffer_size || RefuseRead(s)) return nullptr;
  if (s->buf_end - s->buf_ptr >= n) return s->buf_ptr;
  // A context over a caller's buffer has nothing to fill from, and its bytes
  // must not move.
  if (!s->read_packet || s->eof_reached) return nullptr;
  if (s->update_checksum) {
    if (s->buf_ptr > s->checksum_ptr)
      s->checksum = s->update_checksum(s->checksum, s->checksum_ptr, static_cast<unsigned>(s->buf_ptr - s->checksum_ptr));
    s->checksum_ptr = s->buffer;
  }
  const auto kept = s->buf_end - s->buf_ptr;
  std::memmove(s->buffer, s->buf_ptr, static_cast<size_t>(kept));
  s->buf_ptr = s->buffer;
  s->buf_end = s->buffer + kept;
  while (s->buf_end - s->buf_ptr < n) {
    const int len = s->read_packet(s->opaque, s->buf_end, static_cast<int>(s->buffer + s->buffer_size - s->buf_end));
    ++s->read_calls;
    if (len <= 0) {
      s->eof_reached = 1;
      if (len < 0) s->error = len;
      return nullptr;
    }
    s->pos += len;
    s->bytes_read += static_cast<uint64_t>(len);
    s->buf_end += len;
  }
  return s->buf_ptr;
}

int url_fpeek_at(ByteIOContext* s, int64_t pos, uint8_t* out, int n) {
  if (n <= 0 || pos < 0 || RefuseRead(s)) return 0;
  const int64_t buffer_start = s->pos - (s->buf_end - s->buffer);
  if (pos >= buffer_start && pos + n <= s->pos) {
    std::memcpy(out, s->buffer + (pos - buffer_start), static_cast<size_t>(n));
    return n;
  }
  if (!s->seek || !s->read_packet || s->seek(s->opaque, pos, SEEK_SET) < 0) return 0;
  int got = 0;
  while (got < n) {
    const int r = s->read_packet(s->opaque, out + got, n - got);
    ++s->read_calls;
    if (r <= 0) break;
    got += r;
    s->bytes_read += static_cast<uint64_t>(r);
  }
  s->seek(s->opaque, s->pos, SEEK_SET);  // the protocol stands behind the buffer's data again
  return got;
}

int get_partial_buffer(ByteIOContext* s, uint8_t* buf, int size) {
  if (RefuseRead(s)) return 0;
  int len = static_cast<int>(s->buf_end - s->buf_ptr);
  if (len == 0) {
    FillBuffer(s);
    len = static_cast<int>(s->buf_end - s->buf_ptr);
  }
  len = std::min(len, size);
  std::memcpy(buf, s->buf_ptr, static_cast<size_t>(len));
  s->buf_ptr += len;
  return len;
}

int get_strz(ByteIOContext* s, char* buf, int maxlen) {
  int consumed = 0;
  int kept = 0;
  for (;;) {
    const int c = url_fgetc(s);
    if (c < 0) break;
    ++consumed;
    if (c == 0) break;
    if (kept < maxlen - 1) buf[kept++] = static_cast<char>(c);
  }
  if (maxlen > 0) buf[kept] = '\0';
  return consumed;
}

char* url_fgets(ByteIOContext* s, char* buf, int buf_size) {
  if (buf_size <= 0) return nullptr;
  int c = url_fgetc(s);
  if (c < 0) return nullptr;
  int kept = 0;
  while (c >= 0) {
    if (kept < buf_size - 1) buf[kept++] = static_cast<char>(c);
    if (c == '\n') break;
    c = url_fgetc(s);
  }
  buf[kept] = '\0';
  return buf;
}

uint64_t ff_get_v(ByteIOContext* s) {
  uint64_t value = 0;
  int byte;
  do {
    byte = get_byte(s);
    value = (value << 7) + static_cast<uint64_t>(byte & 127);
  } while (byte & 128);
  return value;
}

// ---------------------------------------------------------------- writing

void put_byte(ByteIOContext* s, int b) {
  *s->buf_ptr++ = static_cast<uint8_t>(b);
  if (s->buf_ptr >= s->buf_end) FlushBuffer(s);
}

void put_buffer(ByteIOContext* s, const uint8_t* buf, int size) {
  while (size > 0) {
    const int len = std::min(static_cast<int>(s->buf_end - s->buf_ptr), size);
    std::memcpy(s->buf_ptr, buf, static_cast<size_t>(len));
    s->buf_ptr += len;
    if (s->buf_ptr >= s->buf_end) FlushBuffer(s);
    buf += len;
    size -= len;
  }
}

void put_le16(ByteIOContext* s, unsigned int v) {
  put_byte(s, static_cast<int>(v & 0xFF));
  put_byte(s, static_cast<int>((v >> 8) & 0xFF));
}
void put_le24(ByteIOContext* s, unsigned int v) {
  put_le16(s, v & 0xFFFF);
  put_byte(s, static_cast<int>((v >> 16) & 0xFF));
}
void put_le32(ByteIOContext* s, unsigned int v) {
  put_le16(s, v & 0xFFFF);
  put_le16(s, v >> 16);
}
void put_le64(ByteIOContext* s, uint64_t v) {
  put_le32(s, static_cast<unsigned>(v));
  put_le32(s, static_cast<unsigned>(v >> 32));
}
void put_be16(ByteIOContext* s, unsigned int v) {
  put_byte(s, static_cast<int>((v >> 8) & 0xFF));
  put_byte(s, static_cast<int>(v & 0xFF));
}
void put_be24(ByteIOContext* s, unsigned int v) {
  put_be16(s, (v >> 8) & 0xFFFF);
  put_byte(s, static_cast<int>(v & 0xFF));
}
void put_be32(ByteIOContext* s, unsigned int v) {
  put_be16(s, v >> 16);
  put_be16(s, v & 0xFFFF);
}
void put_be64(ByteIOContext* s, uint64_t v) {
  put_be32(s, static_cast<unsigned>(v >> 32));
  put_be32(s, static_cast<unsigned>(v));
}

void put_strz(ByteIOContext* s, const char* str) {
  if (str) put_buffer(s, reinterpret_cast<const uint8_t*>(str), static_cast<int>(std::strlen(str)));
  put_byte(s, 0);
}

void put_tag(ByteIOContext* s, const char* tag) {
  while (*tag) put_byte(s, *tag++);
}

void put_flush_packet(ByteIOContext* s) {
  FlushBuffer(s);
  s->must_flush = 0;
}

// ---------------------------------------------------------------- positioning

int64_t url_fseek(ByteIOContext* s, int64_t offset, int whence) {
  if (!s) return kErrInvalid;
  if (whence != SEEK_SET && whence != SEEK_CUR) return kErrInvalid;
  const int64_t buffer_start = s->pos - (s->write_flag ? 0 : (s->buf_end - s->buffer));
  if (whence == SEEK_CUR) {
    const int64_t current = buffer_start + (s->buf_ptr - s->buffer);
    if (offset == 0) return current;
    offset += current;
  }
  const int64_t in_buffer = offset - buffer_start;
  // Pending writes are never skipped over inside the buffer: a later flush would
  // cut off what was written behind the new position.
  const bool pending_writes = s->write_flag && s->buf_ptr > s->buffer;
  if (!s->must_flush && !pending_writes && in_buffer >= 0 && in_buffer <= (s->buf_end - s->buffer) && !s->write_flag) {
    s->buf_ptr = s->buffer + in_buffer;
  } else if (s->is_streamed && !s->write_flag && in_buffer >= 0 &&
             in_buffer < (s->buf_end - s->buffer) + (1 << 16)) {
    while (s->pos < offset && !s->eof_reached) FillBuffer(s);
    if (s->eof_reached) return kErrEndOfStream;
    s->buf_ptr = s->buf_end + (offset - s->pos);
  } else {
    if (s->write_flag) {
      FlushBuffer(s);
      s->must_flush = 1;
    }
    if (!s->seek) return kErrEndOfStream;
    const int64_t r = s->seek(s->opaque, offset, SEEK_SET);
    if (r < 0) return r;
    if (!s->write_flag) s->buf_end = s->buffer;
    s->buf_ptr = s->buffer;
    s->pos = offset;
  }
  s->eof_reached = 0;
  return offset;
}

int64_t url_fskip(ByteIOContext* s, int64_t offset) { return url_fseek(s, offset, SEEK_CUR); }

int64_t url_ftell(ByteIOContext* s) { return url_fseek(s, 0, SEEK_CUR); }

int64_t url_fsize(ByteIOContext* s) {
  if (!s || !s->seek) return kErrEndOfStream;
  int64_t size = s->seek(s->opaque, 0, kSeekSize);
  if (size < 0) {
    size = s->seek(s->opaque, -1, SEEK_END);
    if (size < 0) return size;
    ++size;
    s->seek(s->opaque, s->pos, SEEK_SET);
  }
  return size;
}

int url_feof(ByteIOContext* s) { return s ? s->eof_reached : 0; }
int url_ferror(ByteIOContext* s) { return s ? s->error : 0; }
int url_fget_max_packet_size(ByteIOContext* s) { return s->max_packet_size; }

}  // namespace qvv
