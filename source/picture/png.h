// A minimal PNG encoder (8-bit RGB, no interlace, filter 0 on every row)
// and base64, for embedding the heatmap as a data URI.
#ifndef LOPPER_PICTURE_PNG_H
#define LOPPER_PICTURE_PNG_H

#include <cstddef>
#include <functional>
#include <memory>
#include <ostream>
#include <string>

struct z_stream_s;

namespace lopper::picture_detail {

// Compresses bytes added in pieces into one zlib or gzip stream, held
// until Finish returns it. Throws std::runtime_error when zlib cannot
// start, std::bad_alloc when memory runs out.
class Deflater {
 public:
  enum class Format { kZlib, kGzip };
  explicit Deflater(Format format);
  ~Deflater();
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;

  void Add(const unsigned char* bytes, std::size_t n);
  // The whole compressed stream; the deflater is then spent.
  std::string Finish();

 private:
  void Run(const unsigned char* bytes, std::size_t n, int flush);
  std::unique_ptr<z_stream_s> stream_;
  std::string compressed_;
};

// Called with y in 0 ... height-1, in order, and rgb pointing to 3*width
// bytes to fill with the pixels of row y.
using PngRowFiller = std::function<void(int y, unsigned char* rgb)>;

// width, height >= 1. The PNG file's bytes; rows are compressed as they are
// filled, so only the compressed image is held.
std::string EncodePng(int width, int height, const PngRowFiller& fill_row);

// Writes bytes in base64 (RFC 4648, with padding, no line breaks).
void WriteBase64(std::ostream& out, const std::string& bytes);

}  // namespace lopper::picture_detail

#endif
