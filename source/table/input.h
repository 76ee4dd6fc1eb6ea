// Reading a whole input into memory, inflating gzip data.
#ifndef LOPPER_TABLE_INPUT_H
#define LOPPER_TABLE_INPUT_H

#include <string>

#include "result.h"

namespace lopper::detail {

// The bytes of the file at path ("-": standard input), inflated when they
// start as gzip data (several gzip members are read one after the other).
// Fails with "SOURCE: cannot read: REASON" (REASON from the system) or
// "SOURCE: corrupt gzip data (REASON)" (REASON from zlib).
Result<std::string> ReadWholeInput(const std::string& path, const std::string& source);

}  // namespace lopper::detail

#endif  // LOPPER_TABLE_INPUT_H
