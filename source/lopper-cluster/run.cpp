#include "run.h"

#include <lopper/cluster.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "CommandSupport.h"
#include "SafeOutFile.h"
#include "distances.h"
#include "formats.h"
#include "progress.h"
#include "table.h"
#include "weights.h"

namespace lopper {

namespace {

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
using Tree = std::unique_ptr<Node[], FreeDeleter>;

// What the tree is built from: the elements' names, and either their
// profiles (data) or their distances.
struct Input {
  Table table;
  std::vector<double> weights;
  std::optional<DistanceMatrix> distances;
};

// The Nexus tree's name: the table's file name without its folders.
std::string TreeName(const std::string& source) {
  return source.substr(source.find_last_of('/') + 1);
}

// The named output files, each once and none of them an input file.
struct NamedOutput {
  const char* what;
  std::string path;
};

std::vector<NamedOutput> OutputFiles(const Settings& s) {
  std::vector<NamedOutput> files;
  if (s.clusters != "-" && (!s.ks.empty() || !s.heights.empty()))
    files.push_back({"clusters", s.clusters});
  for (const NamedOutput& o : {NamedOutput{"newick", s.newick}, NamedOutput{"nexus", s.nexus},
                               NamedOutput{"linkage", s.linkage}})
    if (!o.path.empty()) files.push_back(o);
  return files;
}

Result<bool> CheckOutputPaths(const Settings& s) {
  const auto files = OutputFiles(s);
  std::vector<std::string> inputs{s.table};
  if (!s.weights.empty() && s.weights != "auto") inputs.push_back(s.weights);
  for (std::size_t i = 0; i < files.size(); i++) {
    for (const std::string& input : inputs)
      if (files[i].path == input || SameFile(files[i].path, input))
        return Failure{files[i].path + ": the --" + files[i].what +
                       " file would replace the input " + input};
    for (std::size_t j = 0; j < i; j++)
      if (files[i].path == files[j].path || SameFile(files[i].path, files[j].path))
        return Failure{files[i].path + ": named for both --" + files[j].what + " and --" +
                       files[i].what};
  }
  return true;
}

// The data as clustered: transposed, preprocessed, with its column weights.
Result<Input> PrepareData(const Settings& s, Table table) {
  if (s.transpose) table = table.Transposed();
  auto prepared = Preprocess(std::move(table), s.preprocessing);
  if (!prepared.ok()) return Failure{prepared.error()};
  Input input{std::move(prepared).value(), {}, std::nullopt};
  const Table& t = input.table;
  if (s.weights.empty()) {
    input.weights.assign(t.ncolumns(), 1.0);
  } else if (s.weights == "auto") {
    const std::vector<double> ones(t.nrows(), 1.0);
    const std::unique_ptr<double, FreeDeleter> computed(calculate_weights(
        static_cast<int>(t.nrows()), static_cast<int>(t.ncolumns()), t.ValueRows().data(),
        t.MaskRows().data(), ones.data(), 1, s.distance, s.weight_cutoff, s.weight_exponent));
    if (!computed) return Failure{"out of memory computing the weights"};
    input.weights.assign(computed.get(), computed.get() + t.ncolumns());
  } else {
    auto weights = ReadWeights(s.weights, t, ReadOptions{s.separator, ""});
    if (!weights.ok()) return Failure{weights.error()};
    input.weights = std::move(weights).value();
  }
  return input;
}

Result<Input> ReadInput(const Settings& s, ProgressLine& progress) {
  progress.Start("reading " + (s.table == "-" ? std::string("standard input") : s.table));
  auto table = ReadTable(s.table, ReadOptions{s.separator, ""});
  if (!table.ok()) return Failure{table.error()};
  progress.Finish();
  if (!s.distances_input) return PrepareData(s, std::move(table).value());
  auto distances = ToDistanceMatrix(table.value());
  if (!distances.ok()) return Failure{distances.error()};
  return Input{std::move(table).value(), {}, std::move(distances).value()};
}

// While it lives, the library's reports of the tree's steps (distances,
// merging) show on the progress line.
class LibraryProgress {
 public:
  LibraryProgress(ProgressLine& line, int nelements) : line_(line), nelements_(nelements) {
    setprogress(&LibraryProgress::Report, this);
  }
  LibraryProgress(const LibraryProgress&) = delete;
  LibraryProgress& operator=(const LibraryProgress&) = delete;
  ~LibraryProgress() { setprogress(nullptr, nullptr); }

 private:
  static void Report(const char* step, long done, long total, void* context) {
    auto* self = static_cast<LibraryProgress*>(context);
    if (self->step_ != step) {
      self->step_ = step;
      const std::string n = std::to_string(self->nelements_) + " elements";
      self->line_.Start(self->step_ == "distances" ? "distances between " + n : "merging " + n);
    }
    self->line_.Update(total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 1.0);
  }

  ProgressLine& line_;
  int nelements_;
  std::string step_;
};

// The outputs hold one name per line, and the clusters file splits at tabs.
Result<bool> CheckNames(const Table& t) {
  const std::size_t i = FirstUnwritableName(t.names);
  if (i == t.names.size()) return true;
  const std::string place = t.transposed ? "line 1, column " + std::to_string(i + 2)
                                         : "line " + std::to_string(t.file_lines[i]);
  return Failure{t.source + ": " + place +
                 ": the name holds a tab or line break, which the output files cannot hold"};
}

Result<Tree> BuildTree(const Settings& s, Input& input, ProgressLine& progress) {
  const Table& t = input.table;
  const int n = static_cast<int>(t.nrows());
  if (n < 2)
    return Failure{t.source + ": " + std::to_string(n) + " element; clustering needs at least 2"};
  const LibraryProgress reports(progress, n);
  Tree tree(input.distances ? treecluster(n, 0, nullptr, nullptr, nullptr, 0, 'e', s.method,
                                          input.distances->rows())
                            : treecluster(n, static_cast<int>(t.ncolumns()), t.ValueRows().data(),
                                          t.MaskRows().data(), input.weights.data(), 0, s.distance,
                                          s.method, nullptr));
  if (!tree)
    return Failure{"out of memory building the tree of " + std::to_string(n) + " elements"};
  progress.Finish();
  return tree;
}

Result<std::vector<ClusterColumn>> Cut(const Settings& s, const Input& input, const Node* tree) {
  const int n = static_cast<int>(input.table.nrows());
  std::vector<ClusterColumn> columns;
  for (const int k : s.ks) {
    if (k > n)
      return Failure{"-k " + std::to_string(k) + " is outside 1.." + std::to_string(n) + " (" +
                     input.table.source + " has " + std::to_string(n) + " elements)"};
    ClusterColumn column{"k=" + std::to_string(k), std::vector<int>(n)};
    cuttree(n, tree, k, column.clusterid.data());
    if (column.clusterid[0] < 0) return Failure{"out of memory cutting the tree"};
    columns.push_back(std::move(column));
  }
  for (const double h : s.heights) {
    ClusterColumn column{"h=" + ShortestDecimal(h), std::vector<int>(n)};
    if (cuttree_height(n, tree, h, column.clusterid.data()) < 0)
      return Failure{"out of memory cutting the tree"};
    columns.push_back(std::move(column));
  }
  return columns;
}

// One requested output: where it goes ("-": standard output) and what
// writes it (false: the arguments cannot be written, see formats.h).
struct Output {
  std::string path;
  std::function<bool(std::ostream&)> write;
};

std::vector<Output> RequestedOutputs(const Settings& s, const Input& input, const Node* tree,
                                     const std::vector<ClusterColumn>& cuts) {
  const auto& names = input.table.names;
  const int n = static_cast<int>(names.size());
  std::vector<Output> outputs;
  if (!cuts.empty())
    outputs.push_back(
        {s.clusters, [&](std::ostream& o) { return WriteClustersTsv(o, names, cuts); }});
  if (!s.newick.empty())
    outputs.push_back(
        {s.newick, [=, &names](std::ostream& o) { return WriteNewick(o, n, tree, names); }});
  if (!s.nexus.empty())
    outputs.push_back({s.nexus, [=, &names, &input](std::ostream& o) {
                         return WriteNexus(o, n, tree, names, TreeName(input.table.source));
                       }});
  if (!s.linkage.empty())
    outputs.push_back({s.linkage, [=](std::ostream& o) { return WriteLinkage(o, n, tree); }});
  return outputs;
}

// Writes every output to a temporary file (standard output directly) and
// puts the files in place only when all of them are complete, so that a
// failure leaves every existing file as it was.
Result<bool> WriteOutputs(const std::vector<Output>& outputs, std::ostream& out) {
  std::vector<std::unique_ptr<SafeOutFile>> files(outputs.size());
  std::vector<std::string> temps;
  for (std::size_t i = 0; i < outputs.size(); i++) {
    if (outputs[i].path == "-") continue;
    files[i] = std::make_unique<SafeOutFile>(outputs[i].path);
    const std::string unopened = files[i]->open();
    if (!unopened.empty()) return Failure{outputs[i].path + ": cannot write: " + unopened};
    temps.push_back(files[i]->temp_path());
  }
  const RemoveOnSignal cleanup(temps);
  for (std::size_t i = 0; i < outputs.size(); i++)
    if (!outputs[i].write(files[i] ? files[i]->stream() : out))
      return Failure{outputs[i].path + ": the tree or names cannot be written"};
  if (!out.flush()) return Failure{"cannot write standard output"};
  for (std::size_t i = 0; i < outputs.size(); i++) {
    const std::string uncommitted = files[i] ? files[i]->commit() : "";
    if (!uncommitted.empty()) return Failure{outputs[i].path + ": cannot write: " + uncommitted};
  }
  return true;
}

}  // namespace

int RunClustering(const Settings& s, std::ostream& out, std::ostream& err, bool err_is_terminal) {
  ProgressLine progress(
      err, s.progress == Progress::kOn || (s.progress == Progress::kAuto && err_is_terminal));
  const auto failed = [&err, &progress](const std::string& message) {
    progress.Abandon();
    err << "lopper-cluster: " << message << std::endl;
    return 1;
  };
  if (auto paths = CheckOutputPaths(s); !paths.ok()) return failed(paths.error());
  auto input = ReadInput(s, progress);
  if (!input.ok()) return failed(input.error());
  if (auto names = CheckNames(input.value().table); !names.ok()) return failed(names.error());
  auto tree = BuildTree(s, input.value(), progress);
  if (!tree.ok()) return failed(tree.error());
  const auto cuts = Cut(s, input.value(), tree.value().get());
  if (!cuts.ok()) return failed(cuts.error());
  const auto written =
      WriteOutputs(RequestedOutputs(s, input.value(), tree.value().get(), cuts.value()), out);
  if (!written.ok()) return failed(written.error());
  return 0;
}

}  // namespace lopper
