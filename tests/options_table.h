// The options table as the command prints it.
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
    "  --lengths arg                   With --by-height: the branch lengths are edge\n"
    "                                  lengths (edge) or a merge's height on both \n"
    "                                  its children (join) [Default: join when the \n"
    "                                  tree fits it, else edge]\n";

}  // namespace lopper_test

#endif
