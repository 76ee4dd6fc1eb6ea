// Reading a whole input into memory as UTF-8 text, inflating gzip data.
#ifndef LOPPER_TABLE_INPUT_H
#define LOPPER_TABLE_INPUT_H

#include <string>

#include "result.h"

namespace lopper::detail {

// The text of a file's bytes: inflated when they start as gzip data
// (several gzip members are read one after the other), then converted to
// UTF-8 when they start with a UTF-16 byte order mark. Fails with "SOURCE:
// corrupt gzip data (REASON)" (REASON from zlib), for UTF-16 that ends in
// half a character, and for data packed by bzip2, xz, zstd or zip, naming
// the command that unpacks path.
Result<std::string> DecodeInput(std::string bytes, const std::string& source,
                                const std::string& path);

// The text of the file at path ("-": standard input), as DecodeInput gives
// it. Fails as DecodeInput does, or with "SOURCE: cannot read: REASON"
// (REASON from the system).
Result<std::string> ReadWholeInput(const std::string& path, const std::string& source);

}  // namespace lopper::detail

#endif  // LOPPER_TABLE_INPUT_H
