// A minimal PNG encoder (8-bit RGB, no interlace, filter 0 on every row)
// and base64, for embedding the heatmap as a data URI.
#ifndef LOPPER_PICTURE_PNG_H
#define LOPPER_PICTURE_PNG_H

#include <functional>
#include <ostream>
#include <string>

namespace lopper::picture_detail {

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
