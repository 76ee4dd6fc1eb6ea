// Times lopper's distancematrix over the columns of a table, once per line
// of weights, and prints the milliseconds per matrix; the first matrix's
// distances go to a file, one line per pair (i > j, row-major).
//   time_distancematrix TABLE WEIGHTS DIST OUT
// TABLE: tab-separated numbers, NA for a missing value, no header; WEIGHTS:
// one resample per line, a weight per row of TABLE.
#include <lopper/cluster.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::vector<std::string>> Fields(const char* path) {
  std::vector<std::vector<std::string>> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> fields;
    std::istringstream split(line);
    for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
    lines.push_back(fields);
  }
  return lines;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: time_distancematrix TABLE WEIGHTS DIST OUT\n");
    return 2;
  }
  const auto table = Fields(argv[1]);
  const int nrows = static_cast<int>(table.size()), ncolumns = static_cast<int>(table[0].size());
  std::vector<std::vector<double>> data(nrows, std::vector<double>(ncolumns));
  std::vector<std::vector<int>> mask(nrows, std::vector<int>(ncolumns));
  std::vector<double*> data_rows;
  std::vector<int*> mask_rows;
  for (int r = 0; r < nrows; r++) {
    for (int c = 0; c < ncolumns; c++) {
      mask[r][c] = table[r][c] != "NA";
      data[r][c] = mask[r][c] ? std::strtod(table[r][c].c_str(), nullptr) : 0;
    }
    data_rows.push_back(data[r].data());
    mask_rows.push_back(mask[r].data());
  }
  std::vector<std::vector<double>> resamples;
  for (const auto& line : Fields(argv[2])) {
    resamples.emplace_back();
    for (const auto& field : line) resamples.back().push_back(std::strtod(field.c_str(), nullptr));
  }
  lopper::setthreads(1);
  std::ofstream out(argv[4]);
  out.precision(17);
  const auto start = std::chrono::steady_clock::now();
  for (std::size_t s = 0; s < resamples.size(); s++) {
    double** d = lopper::distancematrix(nrows, ncolumns, data_rows.data(), mask_rows.data(),
                                        resamples[s].data(), argv[3][0], 1);
    if (!d) return 1;
    for (int i = 1; i < ncolumns; i++) {
      for (int j = 0; j < i && s == 0; j++) out << d[i][j] << '\n';
      std::free(d[i]);
    }
    std::free(d);
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%.4f\n", 1e3 * seconds / resamples.size());
}
