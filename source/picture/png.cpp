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
  Deflater deflater(Deflater::Format::kZlib);
  std::vector<unsigned char> row(1 + 3 * static_cast<std::size_t>(width), 0);
  for (int y = 0; y < height; y++) {
    fill_row(y, row.data() + 1);
    deflater.Add(row.data(), row.size());
  }
  return deflater.Finish();
}

}  // namespace

Deflater::Deflater(Format format) : stream_(new z_stream{}) {
  // 15 bits of window; 16 more ask for a gzip header and trailer.
  const int bits = format == Format::kGzip ? 15 + 16 : 15;
  if (deflateInit2(stream_.get(), Z_DEFAULT_COMPRESSION, Z_DEFLATED, bits, 8, Z_DEFAULT_STRATEGY) !=
      Z_OK)
    throw std::runtime_error("deflateInit2");
}

Deflater::~Deflater() { deflateEnd(stream_.get()); }

void Deflater::Run(const unsigned char* bytes, std::size_t n, int flush) {
  unsigned char buffer[1 << 14];
  stream_->next_in = const_cast<unsigned char*>(bytes);  // zlib only reads it
  stream_->avail_in = static_cast<uInt>(n);
  // With Z_FINISH deflate returns Z_STREAM_END once all is out; otherwise
  // it has taken all input when it leaves room in the buffer.
  do {
    stream_->next_out = buffer;
    stream_->avail_out = sizeof buffer;
    deflate(stream_.get(), flush);
    compressed_.append(reinterpret_cast<const char*>(buffer), sizeof buffer - stream_->avail_out);
  } while (stream_->avail_out == 0);
}

void Deflater::Add(const unsigned char* bytes, std::size_t n) {
  // avail_in is 32 bits wide.
  constexpr std::size_t kMostAtOnce = std::size_t{1} << 30;
  for (std::size_t done = 0; done < n; done += kMostAtOnce)
    Run(bytes + done, std::min(kMostAtOnce, n - done), Z_NO_FLUSH);
}

std::string Deflater::Finish() {
  Run(nullptr, 0, Z_FINISH);
  return std::move(compressed_);
}

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
