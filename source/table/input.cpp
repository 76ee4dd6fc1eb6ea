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
#include <utility>

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

// The tool that packed bytes and the command that unpacks path, for the
// formats users meet that zlib does not read; nullptr for none of them.
struct Packer {
  const char* name;
  const char* unpack;
};

const Packer* ForeignPacker(std::string_view bytes) {
  static const Packer kBzip2{"bzip2", "bunzip2 -k"}, kXz{"xz", "unxz -k"}, kZstd{"zstd", "unzstd"},
      kZip{"zip", "unzip"};
  const auto starts = [bytes](std::string_view magic) {
    return bytes.substr(0, magic.size()) == magic;
  };
  // "BZh", the block size, then a block's or the end's magic: a text table
  // may well start with "BZh".
  if (bytes.size() >= 10 && starts("BZh") && bytes[3] >= '1' && bytes[3] <= '9' &&
      (bytes.substr(4, 6) == "\x31\x41\x59\x26\x53\x59" ||
       bytes.substr(4, 6) == "\x17\x72\x45\x38\x50\x90"))
    return &kBzip2;
  if (starts(std::string_view("\xFD\x37\x7A\x58\x5A\x00", 6))) return &kXz;
  if (starts("\x28\xB5\x2F\xFD")) return &kZstd;
  if (starts("PK\x03\x04")) return &kZip;
  return nullptr;
}

// Appends code point c (at most 0x10FFFF) in UTF-8.
void AppendUtf8(char32_t c, std::string& out) {
  const auto byte = [&out](unsigned b) { out.push_back(static_cast<char>(b)); };
  if (c < 0x80) {
    byte(c);
  } else if (c < 0x800) {
    byte(0xC0 | (c >> 6)), byte(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    byte(0xE0 | (c >> 12)), byte(0x80 | ((c >> 6) & 0x3F)), byte(0x80 | (c & 0x3F));
  } else {
    byte(0xF0 | (c >> 18)), byte(0x80 | ((c >> 12) & 0x3F)), byte(0x80 | ((c >> 6) & 0x3F));
    byte(0x80 | (c & 0x3F));
  }
}

bool IsUtf16(std::string_view bytes) {
  return bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF";
}

// UTF-16 text, byte order mark first, as UTF-8 (the mark too, which the
// lexer skips). A lone surrogate becomes U+FFFD, as decoders commonly do;
// an odd byte at the end cannot be a character and fails.
Result<std::string> Utf16ToUtf8(std::string_view bytes) {
  if (bytes.size() % 2 != 0) return Failure{"UTF-16 text ends in half a character"};
  const bool little = bytes[0] == '\xFF';
  const auto unit = [bytes, little](std::size_t i) -> char32_t {
    const auto lo = static_cast<unsigned char>(bytes[i + (little ? 0 : 1)]);
    const auto hi = static_cast<unsigned char>(bytes[i + (little ? 1 : 0)]);
    return static_cast<char32_t>(hi << 8 | lo);
  };
  std::string text;
  text.reserve(bytes.size() / 2 * 3 / 2);
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    char32_t c = unit(i);
    const bool high = c >= 0xD800 && c < 0xDC00;
    const bool paired =
        high && i + 2 < bytes.size() && unit(i + 2) >= 0xDC00 && unit(i + 2) < 0xE000;
    if (paired) {
      c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
      i += 2;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    AppendUtf8(c, text);
  }
  return text;
}

}  // namespace

Result<std::string> DecodeInput(std::string bytes, const std::string& source,
                                const std::string& path) {
  if (const Packer* packer = ForeignPacker(bytes)) {
    const std::string file = path == "-" ? "FILE" : path;
    return Failure{source + ": " + packer->name + "-compressed data, which is not read here: " +
                   "decompress it first (" + packer->unpack + " " + file + ")"};
  }
  if (IsGzip(bytes)) {
    Result<std::string> text = Inflate(bytes);
    if (!text.ok()) return Failure{source + ": corrupt gzip data (" + text.error() + ")"};
    bytes = std::move(text).value();
  }
  if (!IsUtf16(bytes)) return bytes;
  Result<std::string> text = Utf16ToUtf8(bytes);
  if (!text.ok()) return Failure{source + ": " + text.error()};
  return text;
}

Result<std::string> ReadWholeInput(const std::string& path, const std::string& source) {
  const bool standard_input = path == "-";
  const int fd = standard_input ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Failure{source + ": cannot read: " + std::strerror(errno)};
  std::string bytes;
  const bool read = ReadAll(fd, bytes);
  const int read_errno = errno;
  if (!standard_input) ::close(fd);
  if (!read) return Failure{source + ": cannot read: " + std::strerror(read_errno)};
  return DecodeInput(std::move(bytes), source, path);
}

}  // namespace lopper::detail
