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
    "  -L [ --Level ] arg (=-1)        Level at which to cut the tree\n";

}  // namespace lopper_test

#endif
