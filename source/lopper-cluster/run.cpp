#include "run.h"

#include <lopper/cluster.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "CommandSupport.h"
#include "SafeOutFile.h"
#include "bootstrap.h"
#include "consensus.h"
#include "cuts.h"
#include "dataset.h"
#include "formats.h"
#include "heatmap_html.h"
#include "hierarchy.h"
#include "partition.h"
#include "picture.h"
#include "progress.h"

namespace lopper {

namespace {

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
  if (s.clusters != "-" && (!s.ks.empty() || !s.heights.empty() || !s.tree()))
    files.push_back({"clusters", s.clusters});
  if (s.report != "-") files.push_back({"report", s.report});
  if (s.bootstrap.support != "-") files.push_back({"support", s.bootstrap.support});
  if (s.consensus.items_file != "-") files.push_back({"item-consensus", s.consensus.items_file});
  files.push_back({"consensus-svg", s.consensus.svg});
  if (!s.consensus.matrices.empty())
    for (const int k : ConsensusKs(s))
      files.push_back({"consensus-matrix", ConsensusMatrixPath(s, k)});
  for (const NamedOutput& o :
       {NamedOutput{"newick", s.newick}, NamedOutput{"nexus", s.nexus},
        NamedOutput{"linkage", s.linkage}, NamedOutput{"centroids", s.centroids},
        NamedOutput{"svg", s.svg}, NamedOutput{"html", s.html}})
    files.push_back(o);
  files.erase(std::remove_if(files.begin(), files.end(),
                             [](const NamedOutput& o) { return o.path.empty(); }),
              files.end());
  return files;
}

Result<bool> CheckOutputPaths(const Settings& s) {
  const auto files = OutputFiles(s);
  std::vector<std::string> inputs{s.table};
  if (!s.weights.empty() && s.weights != "auto") inputs.push_back(s.weights);
  if (!s.column_annotations.empty()) inputs.push_back(s.column_annotations);
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

// What a run found: the partitions' files (a tree's cuts and report), the
// trees of the tree methods and of the picture's columns, with
// --bootstrap the support of each record of the tree and with --consensus
// the consensus of each k.
struct Clustering {
  Partitions partitions;
  Tree tree;
  Tree column_tree;
  std::vector<BootstrapSupport> support;
  Consensus consensus;
};

// The seed of the random starts; one from the clock is reported, so that
// the run can be repeated.
int Seed(const Settings& s, std::ostream& err) {
  if (s.seed) return *s.seed;
  const auto ticks = std::chrono::system_clock::now().time_since_epoch().count();
  const int seed = static_cast<int>(static_cast<unsigned long long>(ticks) % 2147483563ULL);
  err << "lopper-cluster: seed " << seed << std::endl;
  return seed;
}

// The report of a tree: its cuts, then (after an empty line, when both
// are there) the clusters the bootstrap supports.
Result<std::vector<std::vector<std::string>>> TreeReport(const Settings& s, Dataset& d,
                                                         const Clustering& c) {
  std::vector<std::vector<std::string>> rows;
  if (!c.partitions.columns.empty() || c.support.empty()) {
    auto report = CutReport(s, d, c.partitions.columns);
    if (!report.ok()) return Failure{report.error()};
    rows = std::move(report).value();
  }
  if (c.support.empty()) return rows;
  if (!rows.empty()) rows.emplace_back();
  for (auto& row : SupportedClusters(s, d, c.tree.get(), c.support)) rows.push_back(row);
  return rows;
}

Result<Clustering> ClusterTree(const Settings& s, Dataset& d, int seed, ProgressLine& progress,
                               std::ostream& err) {
  Clustering c;
  auto tree = BuildTree(s, d, progress, err);
  if (!tree.ok()) return Failure{tree.error()};
  c.tree = std::move(tree).value();
  if (s.bootstrap.on()) {
    auto support = BootstrapTree(s, d, c.tree.get(), seed, progress);
    if (!support.ok()) return Failure{support.error()};
    c.support = std::move(support).value();
  }
  auto cuts = CutColumns(s, d, c.tree.get());
  if (!cuts.ok()) return Failure{cuts.error()};
  c.partitions.columns = std::move(cuts).value();
  if (!s.report.empty()) {
    auto report = TreeReport(s, d, c);
    if (!report.ok()) return Failure{report.error()};
    c.partitions.report = std::move(report).value();
  }
  return c;
}

// With --consensus: its final clusters after the clusters of -k, and its
// table after the report's (an empty line between).
Result<bool> AddConsensus(const Settings& s, const Dataset& d, int seed, ProgressLine& progress,
                          Clustering& c) {
  auto consensus = ConsensusClustering(s, d, seed, progress);
  if (!consensus.ok()) return Failure{consensus.error()};
  c.consensus = std::move(consensus).value();
  for (ClusterColumn& column : ConsensusColumns(c.consensus))
    c.partitions.columns.push_back(std::move(column));
  auto& report = c.partitions.report;
  if (!report.empty()) report.emplace_back();
  for (auto& row : ConsensusReport(c.consensus)) report.push_back(std::move(row));
  return true;
}

Result<Clustering> Cluster(const Settings& s, Dataset& d, ProgressLine& progress,
                           std::ostream& err) {
  // One seed for every random step, so that a clock's seed repeats the run.
  const bool random = !s.tree() || s.bootstrap.on() || s.consensus.on();
  const int seed = random ? Seed(s, err) : 0;
  Result<Clustering> c = Clustering{};
  if (s.tree()) {
    c = ClusterTree(s, d, seed, progress, err);
  } else {
    if (auto fits = CheckPartitionMemory(s, d); !fits.ok()) return Failure{fits.error()};
    auto partitions = Partition(s, d, seed);
    if (!partitions.ok()) return Failure{partitions.error()};
    c.value().partitions = std::move(partitions).value();
  }
  if (c.ok() && s.consensus.on())
    if (auto added = AddConsensus(s, d, seed, progress, c.value()); !added.ok())
      return Failure{added.error()};
  if (c.ok() && s.column_method) {
    auto columns = BuildColumnTree(s, d, *s.column_method, progress);
    if (!columns.ok()) return Failure{columns.error()};
    c.value().column_tree = std::move(columns).value();
  }
  if (c.ok() && s.optimal_leaf_order) {
    auto ordered =
        OrderAllLeaves(s, d, c.value().tree.get(), c.value().column_tree.get(), progress);
    if (!ordered.ok()) return Failure{ordered.error()};
  }
  return c;
}

// One requested output: a file, or with path "-" a standard stream, and
// what writes it (false: the arguments cannot be written, see formats.h).
struct Output {
  std::string path;
  std::ostream* standard;  // where "-" goes
  std::function<bool(std::ostream&)> write;
};

// The clusters file when --drop-empty left elements out: every element of
// the table in its order, NA in each column for those left out.
bool WriteClustersWithGaps(std::ostream& out, const Dataset& d,
                           const std::vector<ClusterColumn>& columns) {
  std::vector<std::vector<std::string>> rows{{d.table.ElementsLabel()}};
  std::vector<std::vector<int>> numbers;
  for (const ClusterColumn& column : columns) {
    rows[0].push_back(column.label);
    numbers.push_back(column.renumber ? NumberClustersByFirstElement(column.clusterid)
                                      : column.clusterid);
  }
  const std::vector<int> file_rows = d.FileRows();
  for (std::size_t e = 0; e < d.all_names.size(); e++) {
    rows.push_back({d.all_names[e]});
    for (const std::vector<int>& column : numbers)
      rows.back().push_back(file_rows[e] < 0 ? "NA" : std::to_string(column[file_rows[e]]));
  }
  return WriteTsv(out, rows);
}

std::vector<Output> RequestedOutputs(const Settings& s, const Dataset& d, const Clustering& c,
                                     const ColumnAnnotations& annotations, std::ostream& out,
                                     std::ostream& err) {
  const auto& names = d.table.names;
  const int n = d.size();
  const Node* tree = c.tree.get();
  const Partitions& p = c.partitions;
  std::vector<Output> outputs;
  const auto add = [&outputs](const std::string& path, std::ostream* standard, auto write) {
    if (!path.empty()) outputs.push_back({path, standard, write});
  };
  if (!p.columns.empty())
    add(s.clusters, &out, [&names, &p, &d](std::ostream& o) {
      return d.dropped.empty() ? WriteClustersTsv(o, names, p.columns, d.table.ElementsLabel())
                               : WriteClustersWithGaps(o, d, p.columns);
    });
  add(s.report, &err, [&p](std::ostream& o) { return WriteTsv(o, p.report); });
  add(s.consensus.items_file, &out,
      [&d, &c](std::ostream& o) { return WriteTsv(o, ItemConsensusTable(d, c.consensus)); });
  add(s.consensus.svg, &out,
      [&c](std::ostream& o) { return WriteConsensusSvg(o, ConsensusPictureOf(c.consensus)); });
  if (!s.consensus.matrices.empty())
    for (std::size_t t = 0; t < c.consensus.ks.size(); t++)
      add(ConsensusMatrixPath(s, c.consensus.ks[t].k), nullptr,
          [&d, &c, t](std::ostream& o) { return WriteConsensusMatrix(o, d, c.consensus, t); });
  add(s.centroids, &out, [&p](std::ostream& o) { return WriteTsv(o, p.centroids); });
  const std::vector<std::string> labels =
      c.support.empty() ? std::vector<std::string>{} : SupportLabels(s, c.support);
  add(s.newick, &out, [&names, n, tree, labels](std::ostream& o) {
    return WriteNewick(o, n, tree, names, labels);
  });
  add(s.nexus, &out, [&d, n, tree, labels](std::ostream& o) {
    return WriteNexus(o, n, tree, d.table.names, TreeName(d.table.source), labels);
  });
  add(s.bootstrap.support, &out,
      [n, tree, &c](std::ostream& o) { return WriteTsv(o, SupportTable(n, tree, c.support)); });
  const ChildOrder order =
      s.optimal_leaf_order ? ChildOrder::kLeftFirst : ChildOrder::kSmallerFirst;
  add(s.linkage, &out,
      [n, tree, order](std::ostream& o) { return WriteLinkage(o, n, tree, order); });
  const auto picture = [&s, &d, &c, labels, &annotations]() {
    HeatmapPicture p = PictureOf(s, d, c.tree.get(), c.column_tree.get(), c.partitions.columns);
    p.row_tree_labels = labels;
    p.column_annotations = annotations;
    return p;
  };
  add(s.svg, &out, [picture](std::ostream& o) { return WriteHeatmapSvg(o, picture()); });
  add(s.html, &out,
      [&s, &d, picture](std::ostream& o) { return WriteHeatmapHtml(o, PageOf(s, d, picture())); });
  return outputs;
}

// Writes every output to a temporary file (standard streams directly) and
// puts the files in place only when all of them are complete, so that a
// failure leaves every existing file as it was.
Result<bool> WriteOutputs(const std::vector<Output>& outputs) {
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
  for (std::size_t i = 0; i < outputs.size(); i++) {
    std::ostream& stream = files[i] ? files[i]->stream() : *outputs[i].standard;
    if (!outputs[i].write(stream))
      return Failure{outputs[i].path + ": the tree or names cannot be written"};
    if (!files[i] && !stream.flush()) return Failure{"cannot write standard output"};
  }
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
  if (s.threads) setthreads(*s.threads);
  if (auto paths = CheckOutputPaths(s); !paths.ok()) return failed(paths.error());
  auto dataset = ReadDataset(s, progress, err);
  if (!dataset.ok()) return failed(dataset.error());
  // Read before the work, so that a faulty file costs no clustering.
  const auto annotations = ReadColumnAnnotations(s, dataset.value().table);
  if (!annotations.ok()) return failed(annotations.error());
  const auto clustering = Cluster(s, dataset.value(), progress, err);
  if (!clustering.ok()) return failed(clustering.error());
  const auto written = WriteOutputs(
      RequestedOutputs(s, dataset.value(), clustering.value(), annotations.value(), out, err));
  if (!written.ok()) return failed(written.error());
  return 0;
}

}  // namespace lopper
