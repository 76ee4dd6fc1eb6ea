#include "png.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace lopper::picture_detail {

namespace {

// bytes: the file so far; value appended as 4 bytes, most significant first.
void AppendBigEndian(std::string& bytes, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) bytes += static_cast<char>((value >> shift) & 0xff);
}

// Appends a chunk of the given 4-letter type and data; the CRC covers both.
void AppendChunk(std::string& bytes, const char* type, const std::string& data) {
  AppendBigEndian(bytes, static_cast<std::uint32_t>(data.size()));
  const std::string typed = type + data;
  bytes += typed;
  const auto* start = reinterpret_cast<const Bytef*>(typed.data());
  AppendBigEndian(bytes,
                  static_cast<std::uint32_t>(crc32(0L, start, static_cast<uInt>(typed.size()))));
}

// Deflates the image's rows, each led by its filter byte 0, into one zlib
// stream: the IDAT chunk's data.
std::string CompressRows(int width, int height, const PngRowFiller& fill_row) {
  z_stream stream{};
  if (deflateInit(&stream, Z_DEFAULT_COMPRESSION) != Z_OK) throw std::runtime_error("deflateInit");
  std::vector<unsigned char> row(1 + 3 * static_cast<std::size_t>(width), 0);
  std::vector<unsigned char> buffer(1 << 16);
  std::string compressed;
  for (int y = 0; y < height; y++) {
    fill_row(y, row.data() + 1);
    stream.next_in = row.data();
    stream.avail_in = static_cast<uInt>(row.size());
    const int flush = y + 1 == height ? Z_FINISH : Z_NO_FLUSH;
    // With Z_FINISH deflate returns Z_STREAM_END once all is out; otherwise
    // it has taken all input when it leaves room in the buffer.
    do {
      stream.next_out = buffer.data();
      stream.avail_out = static_cast<uInt>(buffer.size());
      deflate(&stream, flush);
      compressed.append(reinterpret_cast<const char*>(buffer.data()),
                        buffer.size() - stream.avail_out);
    } while (stream.avail_out == 0);
  }
  deflateEnd(&stream);
  return compressed;
}

}  // namespace

std::string EncodePng(int width, int height, const PngRowFiller& fill_row) {
  std::string bytes = "\x89PNG\r\n\x1a\n";
  std::string header;
  AppendBigEndian(header, static_cast<std::uint32_t>(width));
  AppendBigEndian(header, static_cast<std::uint32_t>(height));
  // Bit depth 8, colour type 2 (RGB), deflate, filter method 0, no interlace.
  header += std::string("\x08\x02\x00\x00\x00", 5);
  AppendChunk(bytes, "IHDR", header);
  AppendChunk(bytes, "IDAT", CompressRows(width, height, fill_row));
  AppendChunk(bytes, "IEND", "");
  return bytes;
}

void WriteBase64(std::ostream& out, const std::string& bytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
    std::uint32_t group = 0;
    for (std::size_t k = 0; k < 3; k++) {
      group = group << 8 | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
    }
    for (std::size_t k = 0; k < 4; k++) {
      text += k <= n ? kDigits[(group >> (18 - 6 * k)) & 63] : '=';
    }
  }
  out << text;
}

}  // namespace lopper::picture_detail
