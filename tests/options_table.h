// The options table as the command prints it (Boost.Program_options's
// layout: a characterisation of the text, not a check of its meaning).
#ifndef LOPPER_OPTIONS_TABLE_H
#define LOPPER_OPTIONS_TABLE_H

namespace lopper_test {

inline const char* const kOptionsTable =
    "Allowed options:\n"
    "  -h [ --help ]                   produce help message\n"
    "  --version                       print the version and stop\n"
    "  -N [ --Nexus ] arg              Nexus file name\n"
    "  -O [ --Outname ] arg (=Out.clu) Output cluster file/tree [Default=Out.clu]\n"
    "  -L [ --Level ] arg (=-1)        Level at which to cut the tree\n"
    "  --tree arg                      Tree to cut in a file of several: its name or\n"
    "                                  position from 1 [Default: the last of a Nexus\n"
    "                                  file, the first of a Newick file]\n"
    "  --by-height                     Cut below the Level-1 highest merges by their\n"
    "                                  heights from the branch lengths [Default: by \n"
    "                                  the nesting of the tree]\n"
    "  --lengths arg                   With a cut by branch lengths: they are edge \n"
    "                                  lengths (edge) or a merge's height on both \n"
    "                                  its children (join) [Default: join when the \n"
    "                                  tree fits it, else edge]\n"
    "  --height arg                    Instead of Level: cut at this height (SciPy's\n"
    "                                  fcluster 'distance', R's cutree h)\n"
    "  --inconsistent arg              Instead of Level: cut where the inconsistency\n"
    "                                  coefficient is at most this (SciPy's fcluster\n"
    "                                  'inconsistent')\n"
    "  --depth arg                     With --inconsistent: levels of merges a \n"
    "                                  coefficient sees [Default=2]\n"
    "  --dynamic                       Instead of Level: the dynamic tree cut (R's \n"
    "                                  cutreeDynamic, method tree)\n"
    "  --deep-split arg                With --dynamic: 1 splits deeper (R's \n"
    "                                  deepSplit TRUE), 0 not [Default=0]\n"
    "  --cut-height arg                With --dynamic: no cluster above this height \n"
    "                                  [Default: 99% of the highest merge]\n"
    "  --clade arg                     Instead of Level: the fewest clades whose \n"
    "                                  leaves keep within --threshold: max (largest \n"
    "                                  distance along the tree), avg (mean \n"
    "                                  distance), sum (total branch length) or \n"
    "                                  single (single linkage)\n"
    "  --threshold arg                 With --clade: the threshold\n"
    "  --support arg                   With --clade: no cluster holds a branch of \n"
    "                                  lower support (the internal node labels)\n"
    "  --min-size arg                  Elements of clusters smaller than this get \n"
    "                                  cluster -1 [Default: none; 20 with --dynamic]\n";

}  // namespace lopper_test

#endif
