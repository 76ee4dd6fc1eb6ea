// Helpers shared by the table layer's tests.
#ifndef LOPPER_TABLE_TEST_UTIL_H
#define LOPPER_TABLE_TEST_UTIL_H

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "table.h"

namespace lopper_test {

// The table in text, which must read; an empty table after a failed check.
inline lopper::Table ParseOk(const std::string& text, char separator = '\t',
                             const std::string& source = "t.txt") {
  auto result = lopper::ParseTable(text, separator, source);
  EXPECT_TRUE(result.ok()) << result.error();
  return result.ok() ? std::move(result).value() : lopper::Table{};
}

inline void WriteGzip(const std::string& path, const std::string& content) {
  const gzFile file = gzopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(gzwrite(file, content.data(), static_cast<unsigned>(content.size())),
            static_cast<int>(content.size()));
  ASSERT_EQ(gzclose(file), Z_OK);
}

}  // namespace lopper_test

#endif  // LOPPER_TABLE_TEST_UTIL_H
