#include "presence.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>

#include "in_threads.h"

namespace lopper {

namespace {

// How many values row r of t has.
std::size_t PresentCount(const Table& t, std::size_t r) {
  const auto begin = t.mask.begin() + static_cast<std::ptrdiff_t>(r * t.ncolumns());
  return static_cast<std::size_t>(std::count_if(begin,
                                                begin + static_cast<std::ptrdiff_t>(t.ncolumns()),
                                                [](int present) { return present != 0; }));
}

// The rows of t that have some values but not all, each as a bit set of
// its present columns, 64 to a word.
class PartialRows {
 public:
  explicit PartialRows(const Table& t) : words_((t.ncolumns() + 63) / 64), columns_(t.ncolumns()) {
    for (std::size_t r = 0; r < t.nrows(); r++) {
      const std::size_t count = PresentCount(t, r);
      if (count == 0 || count == t.ncolumns()) continue;
      rows_.push_back(static_cast<int>(r));
      counts_.push_back(count);
      bits_.resize(bits_.size() + words_, 0);
      std::uint64_t* word = &bits_[bits_.size() - words_];
      for (std::size_t c = 0; c < t.ncolumns(); c++)
        if (t.mask[r * t.ncolumns() + c]) word[c / 64] |= std::uint64_t{1} << (c % 64);
    }
  }

  int size() const { return static_cast<int>(rows_.size()); }
  int row(int a) const { return rows_[a]; }
  std::size_t count(int a) const { return counts_[a]; }

  // Whether partial rows a and b have no column in common; two rows with
  // more values between them than there are columns must share one.
  bool Disjoint(int a, int b) const {
    if (counts_[a] + counts_[b] > columns_) return false;
    const std::uint64_t* x = &bits_[a * words_];
    const std::uint64_t* y = &bits_[b * words_];
    for (std::size_t w = 0; w < words_; w++)
      if (x[w] & y[w]) return false;
    return true;
  }

 private:
  std::size_t words_, columns_;
  std::vector<int> rows_;
  std::vector<std::size_t> counts_;
  std::vector<std::uint64_t> bits_;
};

}  // namespace

std::vector<int> EmptyElements(const Table& t) {
  std::vector<int> empty;
  for (std::size_t r = 0; r < t.nrows(); r++)
    if (PresentCount(t, r) == 0) empty.push_back(static_cast<int>(r));
  return empty;
}

std::optional<std::pair<int, int>> FirstDisjointPair(const Table& t) {
  const PartialRows partial(t);
  const int k = partial.size();
  // Rows are begun in order: once a pair is found, later rows cannot hold
  // a first one and are passed over.
  std::mutex found;
  std::pair<int, int> first{k, k};
  std::atomic<int> least{k};
  ForEachInThreads(k, [&](int a) {
    if (a > least.load()) return;
    for (int b = a + 1; b < k; b++) {
      if (!partial.Disjoint(a, b)) continue;
      const std::lock_guard<std::mutex> lock(found);
      if (a < first.first) first = {a, b}, least = a;
      return;
    }
  });
  if (first.first == k) return std::nullopt;
  return std::make_pair(partial.row(first.first), partial.row(first.second));
}

std::vector<int> RowsToDrop(const Table& t) {
  const PartialRows partial(t);
  const int k = partial.size();
  std::vector<int> partners(static_cast<std::size_t>(k), 0);
  for (int a = 0; a < k; a++)
    for (int b = a + 1; b < k; b++)
      if (partial.Disjoint(a, b)) partners[a]++, partners[b]++;
  // Of each pair still open, the row with more such partners, then the
  // one with fewer values, then the later, as a small cover.
  const auto first = [&](int a, int b) {
    if (partners[a] != partners[b]) return partners[a] > partners[b];
    return partial.count(a) < partial.count(b);
  };
  std::vector<char> dropped(static_cast<std::size_t>(k), 0);
  for (int a = 0; a < k; a++)
    for (int b = a + 1; b < k && !dropped[a]; b++)
      if (!dropped[b] && partial.Disjoint(a, b)) dropped[first(a, b) ? a : b] = 1;
  std::vector<int> rows;
  for (int a = 0; a < k; a++)
    if (dropped[a]) rows.push_back(partial.row(a));
  return rows;
}

Table WithoutRows(const Table& t, const std::vector<int>& rows) {
  Table kept = t;
  kept.names.clear();
  kept.values.clear();
  kept.mask.clear();
  std::vector<long>& places = t.transposed ? kept.file_columns : kept.file_lines;
  places.clear();
  const std::size_t m = t.ncolumns();
  auto next = rows.begin();
  for (std::size_t r = 0; r < t.nrows(); r++) {
    if (next != rows.end() && static_cast<std::size_t>(*next) == r) {
      ++next;
      continue;
    }
    const auto first = static_cast<std::ptrdiff_t>(r * m),
               last = first + static_cast<std::ptrdiff_t>(m);
    kept.names.push_back(t.names[r]);
    kept.values.insert(kept.values.end(), t.values.begin() + first, t.values.begin() + last);
    kept.mask.insert(kept.mask.end(), t.mask.begin() + first, t.mask.begin() + last);
    places.push_back(t.transposed ? t.file_columns[r] : t.file_lines[r]);
  }
  return kept;
}

}  // namespace lopper
