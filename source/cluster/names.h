// The names users type for the library's distance and linkage codes, with
// one line on what each means: lopper-cluster's --help and its message for
// an unknown name, and the Python module, all read these tables.
#ifndef LOPPER_NAMES_H
#define LOPPER_NAMES_H

#include <cstddef>
#include <string>
#include <string_view>

namespace lopper {

// A name and its code. Names that share a code stand next to each other;
// the first of them carries the description, the others "".
struct CodeName {
  const char* name;
  char code;
  const char* description;
};

inline constexpr CodeName kDistanceNames[] = {
    {"euclidean", 'E',
     "the root of the sum of squared differences, as R's dist(), SciPy's pdist()"},
    {"sqeuclidean", 'Q', "the sum of squared differences (squared Euclidean)"},
    {"manhattan", 'B', "the sum of absolute differences (city block)"},
    {"cityblock", 'B', ""},
    {"maximum", 'M', "the largest absolute difference"},
    {"chebyshev", 'M', ""},
    {"canberra", 'C', "the sum of |x - y| / (|x| + |y|), as R's dist() and SciPy's pdist()"},
    {"meansquare", 'e', "the mean of the squared differences, no root (euclidean in lopper 0.2)"},
    {"meanabsolute", 'b', "the mean of the absolute differences (cityblock in lopper 0.2)"},
    {"pearson", 'c', "1 - Pearson correlation"},
    {"correlation", 'c', ""},
    {"abspearson", 'a', "1 - |Pearson correlation|"},
    {"uncentered", 'u', "1 - uncentred correlation (cosine similarity)"},
    {"cosine", 'u', ""},
    {"absuncentered", 'x', "1 - |uncentred correlation|"},
    {"spearman", 's', "1 - Spearman rank correlation"},
    {"kendall", 'k', "1 - Kendall's tau"},
};

inline constexpr CodeName kLinkageNames[] = {
    {"single", 's', "the closest members"},
    {"complete", 'm', "the farthest members"},
    {"average", 'a', "the mean distance between members (UPGMA)"},
    {"centroid", 'c', "the distance between the clusters' mean profiles (UPGMC with euclidean)"},
    {"ward", 'w', "Ward's minimum variance (R's ward.D2); needs euclidean on data"},
    {"ward.D2", 'w', ""},
    {"weighted", 'q', "the mean of the two merged clusters' distances (WPGMA)"},
    {"mcquitty", 'q', ""},
    {"median", 'd',
     "the distance to the merged clusters' midpoint (WPGMC); needs euclidean on data"},
};

// The code `word` stands for in `table`: one of its names, or one of its
// codes as a letter, which stands for itself. 0 when it is neither.
template <std::size_t N>
constexpr char CodeOf(std::string_view word, const CodeName (&table)[N]) {
  for (const CodeName& c : table)
    if (word == c.name || (word.size() == 1 && word[0] == c.code)) return c.code;
  return 0;
}

// The first name of `code` in `table`; "" for a code it does not have.
template <std::size_t N>
constexpr const char* NameOf(char code, const CodeName (&table)[N]) {
  for (const CodeName& c : table)
    if (c.code == code) return c.name;
  return "";
}

// Every name of `table` and its letters, for a message: "a, b, c or the
// letters x y z".
template <std::size_t N>
std::string NameList(const CodeName (&table)[N]) {
  std::string names, letters;
  for (const CodeName& c : table) {
    names += std::string(names.empty() ? "" : ", ") + c.name;
    if (*c.description) letters += std::string(letters.empty() ? "" : " ") + c.code;
  }
  return names + " or the letters " + letters;
}

// One line per code: its names, its letter and what it means, as
// "  euclidean (E): Euclidean distance ...".
template <std::size_t N>
std::string NameLines(const CodeName (&table)[N]) {
  std::string lines;
  for (std::size_t i = 0; i < N; i++) {
    if (!*table[i].description) continue;
    std::string names = table[i].name;
    for (std::size_t j = i + 1; j < N && !*table[j].description; j++)
      names += std::string(", ") + table[j].name;
    lines += "  " + names + " (" + table[i].code + "): " + table[i].description + "\n";
  }
  return lines;
}

}  // namespace lopper

#endif
