#include "input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
// zlib then takes its input as const: it only reads it.
#define ZLIB_CONST
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

namespace lopper::detail {

namespace {

// zlib counts in uInt; larger inputs and outputs pass in slices of this.
constexpr std::size_t kSlice = std::size_t{1} << 30;

bool IsGzip(std::string_view bytes) {
  return bytes.size() >= 2 && bytes.substr(0, 2) == "\x1f\x8b";
}

// All bytes of fd into bytes, in as few reads as possible: a regular file's
// size sizes the buffer at once, other input doubles it as it comes. False,
// with errno set, when a read fails.
bool ReadAll(int fd, std::string& bytes) {
  struct stat status;
  const bool regular = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
  // + 1: the read that finds the end needs room too.
  bytes.resize(regular ? static_cast<std::size_t>(status.st_size) + 1 : std::size_t{1} << 20);
  std::size_t size = 0;
  for (;;) {
    if (size == bytes.size()) bytes.resize(2 * bytes.size());
    const ssize_t got = ::read(fd, &bytes[size], std::min(bytes.size() - size, kSlice));
    if (got == 0) break;
    if (got < 0 && errno != EINTR) return false;
    if (got > 0) size += static_cast<std::size_t>(got);
  }
  bytes.resize(size);
  return true;
}

// The text of gzip data: its members one after the other, as gzip -d gives
// it; bytes after the last member that start no member are ignored, as
// zlib's own file reader does. The failure message is zlib's reason.
Result<std::string> Inflate(std::string_view packed) {
  z_stream stream{};
  // 16: gzip wrapping only.
  if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) return Failure{"out of memory"};
  std::string text(std::max<std::size_t>(4 * packed.size(), 1 << 16), '\0');
  std::size_t consumed = 0, produced = 0;
  int status = Z_OK;
  while (status == Z_OK) {
    if (produced == text.size()) text.resize(2 * text.size());
    if (stream.avail_in == 0) {
      stream.next_in = reinterpret_cast<const Bytef*>(packed.data() + consumed);
      stream.avail_in = static_cast<uInt>(std::min(packed.size() - consumed, kSlice));
    }
    stream.next_out = reinterpret_cast<Bytef*>(&text[produced]);
    stream.avail_out = static_cast<uInt>(std::min(text.size() - produced, kSlice));
    const Bytef* const in_before = stream.next_in;
    status = inflate(&stream, Z_NO_FLUSH);
    consumed += static_cast<std::size_t>(stream.next_in - in_before);
    produced = static_cast<std::size_t>(reinterpret_cast<char*>(stream.next_out) - text.data());
    if (status == Z_STREAM_END && IsGzip(packed.substr(consumed)) && inflateReset(&stream) == Z_OK)
      status = Z_OK;
  }
  // Z_BUF_ERROR: the input ended inside a member (there is always room
  // for output).
  const std::string reason = status == Z_BUF_ERROR ? "unexpected end of file"
                             : stream.msg          ? stream.msg
                                                   : "out of memory";
  inflateEnd(&stream);
  if (status != Z_STREAM_END) return Failure{reason};
  text.resize(produced);
  return text;
}

}  // namespace

Result<std::string> ReadWholeInput(const std::string& path, const std::string& source) {
  const bool standard_input = path == "-";
  const int fd = standard_input ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Failure{source + ": cannot read: " + std::strerror(errno)};
  std::string bytes;
  const bool read = ReadAll(fd, bytes);
  const int read_errno = errno;
  if (!standard_input) ::close(fd);
  if (!read) return Failure{source + ": cannot read: " + std::strerror(read_errno)};
  if (!IsGzip(bytes)) return bytes;
  Result<std::string> text = Inflate(bytes);
  if (!text.ok()) return Failure{source + ": corrupt gzip data (" + text.error() + ")"};
  return text;
}

}  // namespace lopper::detail
