// A lopper-cluster run: read the table, cluster, cut, write.
#ifndef LOPPER_CLUSTER_COMMAND_RUN_H
#define LOPPER_CLUSTER_COMMAND_RUN_H

#include <ostream>

#include "options.h"

namespace lopper {

// Runs the settings; the clusters go to `out` when settings.clusters is
// "-", progress and the one-line message of a failure to `err`. Returns 0,
// or 1 when the input cannot be used or an output cannot be written; then
// no output file has been created or changed.
int RunClustering(const Settings& settings, std::ostream& out, std::ostream& err,
                  bool err_is_terminal);

}  // namespace lopper

#endif
