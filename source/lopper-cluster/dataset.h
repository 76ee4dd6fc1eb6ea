// What lopper-cluster clusters: a table's elements, with their profiles or
// their distances, read, checked and prepared as the settings say.
#ifndef LOPPER_CLUSTER_COMMAND_DATASET_H
#define LOPPER_CLUSTER_COMMAND_DATASET_H

#include <cstdlib>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "distances.h"
#include "memory.h"
#include "options.h"
#include "progress.h"
#include "result.h"
#include "table.h"

namespace lopper {

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

// The elements' names, and their profiles (table, transposed and
// preprocessed, with one weight per column) or, for a distance matrix
// input, their distances. `distances` is also where distances computed
// from the profiles are kept once a step needs them.
struct Dataset {
  Table table;
  std::vector<double> weights;
  std::optional<DistanceMatrix> distances;
  bool profiles = true;  // false: the table is a distance matrix
  // With --drop-empty, the names of all the table's elements and the
  // indices among them of those left out (none: every element is kept).
  std::vector<std::string> all_names;
  std::vector<int> dropped;

  int size() const { return static_cast<int>(table.nrows()); }
  // With elements left out: each element of the file's row in table, -1
  // for one left out; empty when every element is kept.
  std::vector<int> FileRows() const;
};

// Reads the table named in the settings and prepares it; elements left
// out by --drop-empty are listed on err. Fails with a message naming the
// file and place of the fault: unreadable or malformed text, fewer than
// two elements, a name that the outputs cannot hold, an element without
// values, two without a value in the same column where the method
// measures distances, or a -k above the number of elements.
Result<Dataset> ReadDataset(const Settings& s, ProgressLine& progress, std::ostream& err);

// Where a distance cannot be measured between rows of t (elements, or
// with noun "column" the columns of the picture's tree): the message for
// the first row without values (with empties) or, with pairs, the first
// two rows with values but no column in common; true when there is none.
Result<bool> CheckMeasurable(const Table& t, bool empties, bool pairs, const std::string& noun);

// The large blocks a run holds besides the elements' distance matrices:
// for the picture's column tree a copy of the table and the columns'
// distances (two with --leaf-order optimal: its table too), and the
// picture (the values sorted for its colours, the image).
std::vector<MemoryBlock> ExtraBlocks(const Settings& s, const Dataset& d);

// "leave out --cluster-columns or --svg" and the like: the parts of the
// run that ExtraBlocks counts and that could be left out, for messages.
std::string LighterRuns(const Settings& s);

// Partitions: fails, before the work, when the distance matrix k-medoids
// and silhouettes need and ExtraBlocks would not fit in the memory
// available, saying what would.
Result<bool> CheckPartitionMemory(const Settings& s, const Dataset& d);

// The distances between the rows of t by the library's distancematrix,
// with distance code dist and one weight per column.
Result<DistanceMatrix> DistancesOf(const Table& t, const std::vector<double>& weights, char dist);

// The distances between the elements: the input's, or computed once with
// the settings' distance and weights.
Result<DistanceMatrix*> Distances(const Settings& s, Dataset& d);

}  // namespace lopper

#endif
