"""How close lopper-cluster's bootstrap support lies to pvclust's, against
how close two pvclust runs lie to each other: the clusters are matched by
their members, and for AU and BP the largest and mean absolute difference
is printed for R serial vs R parallel and for lopper vs each R run.
Reads, in the folder given: lung.tsv (for the sample names), R's
r_clusters.txt, r_serial.tsv and r_parallel.tsv, lopper's linkage.tsv and
support.tsv (as compare_bootstrap.sh writes them)."""
import csv
import sys
from pathlib import Path


def lopper_clusters(folder):
    names = (folder / "lung.tsv").read_text().split("\n", 1)[0].split("\t")[1:]
    n = len(names)
    members = []
    for line in (folder / "linkage.tsv").read_text().split("\n"):
        if not line:
            continue
        a, b = (int(float(v)) for v in line.split("\t")[:2])
        members.append((members[a - n] if a >= n else [names[a]]) +
                       (members[b - n] if b >= n else [names[b]]))
    return [frozenset(m) for m in members]


def table(path, columns):
    with open(path) as f:
        rows = list(csv.reader(f, delimiter="\t"))
    header = rows[0]
    # R writes its row names without a header cell.
    offset = 1 if len(rows[1]) == len(header) + 1 else 0
    return [{c: float(r[header.index(c) + offset]) for c in columns} for r in rows[1:]]


def spread(label, a, b):
    for value in ("au", "bp"):
        d = [abs(a[k][value] - b[k][value]) for k in a if k in b]
        print(f"{label:28s} {value}: largest {max(d):.4f}, mean {sum(d) / len(d):.4f} "
              f"over {len(d)} clusters")


def main():
    folder = Path(sys.argv[1])
    # R sorts names in its locale's collation: compare the members as sets.
    r_keys = [frozenset(line.split(","))
              for line in (folder / "r_clusters.txt").read_text().split()]
    serial = dict(zip(r_keys, table(folder / "r_serial.tsv", ["au", "bp"])))
    parallel = dict(zip(r_keys, table(folder / "r_parallel.tsv", ["au", "bp"])))
    ours = dict(zip(lopper_clusters(folder), table(folder / "support.tsv", ["au", "bp"])))
    same = sum(k in serial for k in ours)
    print(f"clusters of lopper's tree in R's tree: {same} of {len(ours)}")
    spread("R serial vs R parallel", serial, parallel)
    spread("lopper vs R serial", ours, serial)
    spread("lopper vs R parallel", ours, parallel)


if __name__ == "__main__":
    main()
