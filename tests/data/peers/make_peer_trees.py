#!/usr/bin/python3
"""Writes tree files as other tools write them, for the tests of lopper's
tree reader, and expected.tsv: what each file holds, taken from the known
trees below and not from lopper.

R ape (Rscript) and DendroPy write the files; a few are written here the way
tree viewers write them by hand. R and DendroPy are needed only to
regenerate the corpus, never at test time:
    tests/data/peers/make_peer_trees.py

expected.tsv, one row per file and tree choice, tab separated:
    file     the file name in this folder
    choice   "-" for the default tree, "#N" for the N-th, "=NAME" by name
    tree     the tree's name as the file gives it (empty for Newick)
    names    the element names in element order, joined by ","
    shape    the tree as nested sets: a leaf is its name, a node is
             "(" + its children's strings, sorted, joined by "," + ")"
    lengths  the same with ":" + the branch length (printf %.6g) after
             every child
    error    "-" for a file that must be read; otherwise a fragment the
             reading error must contain
    line     for a rejected file, the line the error must name
    support  the shape with each node's label after its ")" (printf
             %.6g) where the file gives a label that is a number
    polytomy "-" for a binary tree; else "line L: a node of K children",
             the first node (in file order) of more than two children
In names, shape and lengths a name's "\\", "(", ")", ",", ":" are escaped
with a backslash, so that the strings stay unambiguous whatever the names.

Each expectation is checked here before it is written: files without a
TRANSLATE table are read back with DendroPy, TRANSLATE tables are compared
line by line, so a writer that changes names in a way not foreseen below
stops the script instead of giving a wrong expectation.
"""
import os
import random
import re
import subprocess
import sys
import tempfile

import dendropy

HERE = os.path.dirname(os.path.abspath(__file__))


# A known tree: a leaf is (name, length); a node is
# (left, right, label, length), a node of more children (kids, label,
# length), with label None for none. Roots have length None: no writer
# below then writes a root length.
def leaf(name, length):
    return (name, length)


def node(left, right, length, label=None):
    return (left, right, label, length)


def poly(kids, length, label=None):
    return (tuple(kids), label, length)


def is_leaf(t):
    return len(t) == 2


def children(t):
    return t[0] if len(t) == 3 else (t[0], t[1])


def label_of(t):
    return t[-2]


def leaves(t):
    """Leaf names in order of appearance."""
    if is_leaf(t):
        return [t[0]]
    return [name for child in children(t) for name in leaves(child)]


NUMBER = re.compile(r"[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?")


def support_suffix(label):
    """A label that is a decimal number, as the support column gives it."""
    return fmt(float(label)) if label is not None and NUMBER.fullmatch(label) else ""


def first_polytomy(t):
    """The number of children of the first node in preorder with more
    than two, or 0."""
    if is_leaf(t):
        return 0
    if len(children(t)) > 2:
        return len(children(t))
    for child in children(t):
        k = first_polytomy(child)
        if k:
            return k
    return 0


def esc(name):
    return re.sub(r"([\\(),:])", r"\\\1", name)


def fmt(length):
    return "%.6g" % length


def canon(t, rename, with_lengths, with_support=False):
    """The nested-set string of t, leaves renamed by rename."""
    if is_leaf(t):
        return esc(rename(t[0]))
    kids = []
    for child in children(t):
        s = canon(child, rename, with_lengths, with_support)
        if with_lengths:
            s += ":" + fmt(child[-1])
        kids.append(s)
    suffix = support_suffix(label_of(t)) if with_support else ""
    return "(" + ",".join(sorted(kids)) + ")" + suffix


def canon_dendropy(nd, with_lengths, with_support=False):
    """The same string from a tree DendroPy read back."""
    if nd.is_leaf():
        return esc(nd.taxon.label)
    kids = []
    for child in nd.child_nodes():
        s = canon_dendropy(child, with_lengths, with_support)
        if with_lengths:
            s += ":" + fmt(child.edge.length)
        kids.append(s)
    suffix = support_suffix(nd.label) if with_support else ""
    return "(" + ",".join(sorted(kids)) + ")" + suffix


# ---- the known trees ----

T2 = node(leaf("alpha", 0.5), leaf("beta_2", 1e-05), None)

# Numbers as names: without a TRANSLATE table they are names, not leaf
# numbers, and their order of appearance is not their numeric order.
T3 = node(node(leaf("3", 0.0), leaf("1", 2.5), 1.25), leaf("20", 4.0), None)

# Underscores, spaces and punctuation that ape writes unquoted, internal
# labels that are support values and a name.
T5 = node(
    node(leaf("Homo_sapiens", 0.0061), leaf("Pan troglodytes", 0.0064), 0.0025, "0.95"),
    node(node(leaf("Gorilla", 0.0087), leaf("x.y-z", 1e-05), 0.0, "87"),
         leaf("Pongo_abelii", 0.0183), 0.0123, "clade_A"),
    None, "root")
# The same leaves, other shapes: several trees over one TRANSLATE table.
T5B = node(leaf("Pongo_abelii", 0.02),
           node(node(leaf("Pan troglodytes", 0.01), leaf("Homo_sapiens", 0.01), 0.005),
                node(leaf("x.y-z", 0.125), leaf("Gorilla", 0.25), 0.5), 0.0), None)
T5C = node(node(node(node(leaf("x.y-z", 1.0), leaf("Gorilla", 2.0), 3.0),
                     leaf("Homo_sapiens", 4.0), 5.0),
                leaf("Pongo_abelii", 6.0), 7.0),
           leaf("Pan troglodytes", 8.0), None)

# Names that must be quoted in Nexus and Newick (DendroPy quotes them).
T8 = node(
    node(leaf("it's", 1.0), leaf("(x,y):z", 0.0), 0.5, "0.75"),
    node(node(leaf("semi;colon", 1e-05), leaf("a=b", 2.0), 0.25),
         node(leaf("[not a comment]", 3.0),
              node(leaf("under_score", 0.125), node(leaf("plain", 1.5), leaf("7", 1e-05), 0.0),
                   2.0, "99"),
              1.0),
         0.75, "x y"),
    None)
T8B = node(leaf("7", 1.0),
           node(leaf("plain", 1.0),
                node(leaf("under_score", 1.0),
                     node(leaf("[not a comment]", 1.0),
                          node(leaf("a=b", 1.0),
                               node(leaf("semi;colon", 1.0),
                                    node(leaf("(x,y):z", 1.0), leaf("it's", 1.0), 1.0), 1.0),
                               1.0), 1.0), 1.0), 1.0), None)


def random_tree(names, seed):
    """A random binary tree over names with lengths of three decimals."""
    rng = random.Random(seed)
    pool = [leaf(n, round(rng.uniform(0, 2), 3)) for n in names]
    while len(pool) > 1:
        a = pool.pop(rng.randrange(len(pool)))
        b = pool.pop(rng.randrange(len(pool)))
        pool.append(node(a, b, round(rng.uniform(0, 2), 3)))
    t = pool[0]
    return (t[0], t[1], t[2], None)


T30 = random_tree(["taxon_%02d" % k for k in range(1, 31)], 30)

# Nodes of more than two children, as ape and DendroPy leave unresolved
# clades and unrooted trees, with support labels numeric and not (RAxML,
# IQ-TREE's "SH-aLRT/UFBoot", a clade name). The root comes first in the
# file: the first node of more than two children.
TP = poly([node(leaf("A", 0.1), leaf("B", 0.2), 0.3, "100"),
           poly([leaf("C", 0.4), leaf("D", 0.5), leaf("E", 0.6), leaf("F", 0.7)], 0.8, "0.87"),
           node(leaf("G", 0.9), node(leaf("H", 1.0), leaf("I", 1.1), 1.2, "95/87"), 1.3,
                "clade_X")], None)
T3C = node(poly([leaf("a", 1.0), leaf("b", 1.0), leaf("c", 1.0)], 0.5), leaf("d", 2.0), None)


# ---- what the writers make of names ----

def underscored(name):
    """ape and DendroPy (without preserve_spaces) write blanks as
    underscores; the file then holds underscores."""
    return name.replace(" ", "_")


def dendropy_default(name):
    """DendroPy writes blanks as underscores in a name it leaves unquoted,
    and keeps them in a name it quotes for other characters."""
    return name if set(name) & set("'()[]{},;:=") else underscored(name)


def same(name):
    return name


APE_UNSAFE = set("(),:;'[]")


def ape_safe(t):
    # ape writes these characters neither quoted nor as they are, so no tree
    # with them goes to ape.
    for name in leaves(t):
        assert not APE_UNSAFE & set(name), name


# ---- writing ----

ROWS = []


def expect(fname, choice, tree_name, t, element_names, rename, labels=True, line=1):
    """labels: the writer wrote the internal labels; line: the line of the
    tree in the file."""
    k = first_polytomy(t)
    ROWS.append([fname, choice, tree_name, ",".join(esc(n) for n in element_names),
                 canon(t, rename, False), canon(t, rename, True), "-", "-",
                 canon(t, rename, False, labels),
                 "line %d: a node of %d children" % (line, k) if k else "-"])


def expect_error(fname, fragment, line):
    ROWS.append([fname, "-", "", "", "", "", fragment, str(line), "-", "-"])


def r_string(s):
    return '"' + s.replace("\\", "\\\\").replace('"', '\\"') + '"'


def r_phylo(t, tip_order):
    """R code for a phylo object of t, tips numbered by tip_order, edges in
    the order of the tree so that ape writes the leaves in that order."""
    n = len(tip_order)
    number = {name: k + 1 for k, name in enumerate(tip_order)}
    edges, lengths, labels = [], [], []
    counter = [n]

    # Each child's edge comes right before the edges below it (cladewise
    # order), which is the order ape writes the tree in.
    def walk(nd):
        counter[0] += 1
        me = counter[0]
        labels.append(label_of(nd) or "")
        for child in children(nd):
            if is_leaf(child):
                edges.append((me, number[child[0]]))
                lengths.append(child[-1])
            else:
                edges.append((me, counter[0] + 1))
                lengths.append(child[-1])
                walk(child)

    walk(t)
    flat = ",".join("%dL,%dL" % e for e in edges)
    return ("structure(list(edge=matrix(c(%s),ncol=2,byrow=TRUE),tip.label=c(%s),"
            "edge.length=c(%s),Nnode=%dL,node.label=c(%s)),class=\"phylo\")" %
            (flat, ",".join(r_string(x) for x in tip_order), ",".join(repr(x) for x in lengths),
             len(labels), ",".join(r_string(x) for x in labels)))


def run_r(code):
    with tempfile.NamedTemporaryFile("w", suffix=".R", delete=False) as f:
        f.write("library(ape)\n" + code)
    try:
        subprocess.run(["Rscript", f.name], check=True, cwd=HERE)
    finally:
        os.unlink(f.name)


def check_translate(fname, element_names):
    """The TRANSLATE table as written numbers element_names from 1."""
    lines = open(os.path.join(HERE, fname)).read().splitlines()
    start = next(k for k, line in enumerate(lines) if line.strip().lower() == "translate")
    got = {}
    for line in lines[start + 1:]:
        m = re.match(r"\s*(\d+)\s+('(?:[^']|'')*'|[^,;]*?)\s*([,;]?)\s*$", line)
        if not m:
            break
        name = m.group(2)
        if name.startswith("'"):
            name = name[1:-1].replace("''", "'")
        got[int(m.group(1))] = name
        if m.group(3) == ";":
            break
    want = {k + 1: n for k, n in enumerate(element_names)}
    assert got == want, (fname, got, want)


def check_readback(fname, schema, choice_index, t, rename, labels=True):
    """DendroPy reads the file as expected: leaves in order, same shape."""
    text = open(os.path.join(HERE, fname)).read()
    if schema == "nexus":
        # Only the tree statements: ape's TAXA block holds blanks unquoted,
        # which DendroPy's Nexus reader refuses.
        text = "\n".join(re.findall(r"^\s*tree\s[^=]*=\s*(.*)$", text, re.M | re.I))
    trees = dendropy.TreeList.get(data=text, schema="newick", preserve_underscores=True)
    tree = trees[choice_index]
    got = [nd.taxon.label for nd in tree.leaf_node_iter()]
    assert got == [rename(n) for n in leaves(t)], (fname, got)
    for with_lengths in (False, True):
        assert canon_dendropy(tree.seed_node, with_lengths) == canon(t, rename, with_lengths), fname
    if labels:
        assert canon_dendropy(tree.seed_node, False, True) == canon(t, rename, False, True), fname


def write_ape():
    for t in (T2, T3, T5, T5B, T5C, T30, TP):
        ape_safe(t)
    order5 = sorted(leaves(T5))
    code = []

    def phylo(t, order=None):
        return r_phylo(t, order or leaves(t))

    code.append('write.tree(%s, "ape_tree_2.nwk")' % phylo(T2))
    code.append('write.tree(%s, "ape_tree_3.nwk")' % phylo(T3))
    code.append('write.tree(%s, "ape_tree_5.nwk")' % phylo(T5))
    code.append('write.tree(%s, "ape_tree_30.nwk")' % phylo(T30))
    multi = 'structure(list(%s), class="multiPhylo")'
    code.append('write.tree(%s, "ape_tree_several.nwk")' %
                (multi % ",".join(phylo(t) for t in (T3, T5, T2))))
    # Tips numbered in another order than they appear: the TRANSLATE
    # numbers, not the order of the tree, give the elements.
    code.append('write.nexus(%s, file="ape_nexus_5.nex")' % phylo(T5, order5))
    code.append('write.nexus(%s, file="ape_nexus_30.nex")' % phylo(T30, sorted(leaves(T30))[::-1]))
    code.append('write.nexus(%s, file="ape_nexus_3.nex")' % phylo(T3, ["1", "20", "3"]))
    code.append('write.nexus(%s, file="ape_nexus_5_notranslate.nex", translate=FALSE)' %
                phylo(T5, order5))
    code.append('write.nexus(%s, file="ape_nexus_several.nex")' %
                (multi % ",".join("%s=%s" % (nm, phylo(t, order5))
                                  for nm, t in (("first", T5), ("second", T5B), ("third", T5C)))))
    code.append('write.nexus(%s, file="ape_nexus_several_notranslate.nex", translate=FALSE)' %
                (multi % ",".join("%s=%s" % (nm, phylo(t))
                                  for nm, t in (("two", T2), ("thirty", T30), ("three", T3)))))
    code.append('write.tree(%s, "ape_polytomy.nwk")' % phylo(TP))
    code.append('write.nexus(%s, file="ape_polytomy.nex")' % phylo(TP, sorted(leaves(TP))[::-1]))
    # A node of one child: ape writes such singleton nodes as they are.
    code.append('write.tree(structure(list(edge=matrix(c(4L,1L,4L,5L,5L,6L,6L,2L,6L,3L),ncol=2,'
                'byrow=TRUE),tip.label=c("a","b","c"),edge.length=c(1,2,3,4,5),Nnode=3L),'
                'class="phylo"), "ape_reject_one_child.nwk")')
    run_r("\n".join(code) + "\n")

    u = underscored
    for fname, t in (("ape_tree_2.nwk", T2), ("ape_tree_3.nwk", T3), ("ape_tree_5.nwk", T5),
                     ("ape_tree_30.nwk", T30)):
        check_readback(fname, "newick", 0, t, u)
        expect(fname, "-", "", t, [u(n) for n in leaves(t)], u)
    for k, t in enumerate((T3, T5, T2)):
        check_readback("ape_tree_several.nwk", "newick", k, t, u)
        expect("ape_tree_several.nwk", "#%d" % (k + 1), "", t, [u(n) for n in leaves(t)], u)
    expect("ape_tree_several.nwk", "-", "", T3, [u(n) for n in leaves(T3)], u)

    # In a TRANSLATE table ape writes names as they are, blanks included.
    for fname, t, order in (("ape_nexus_5.nex", T5, order5),
                            ("ape_nexus_30.nex", T30, sorted(leaves(T30))[::-1]),
                            ("ape_nexus_3.nex", T3, ["1", "20", "3"])):
        check_translate(fname, order)
        expect(fname, "-", "UNTITLED", t, order, same)
    check_readback("ape_nexus_5_notranslate.nex", "nexus", 0, T5, u)
    expect("ape_nexus_5_notranslate.nex", "-", "UNTITLED", T5, [u(n) for n in leaves(T5)], u)
    check_translate("ape_nexus_several.nex", order5)
    several = (("first", T5), ("second", T5B), ("third", T5C))
    for k, (nm, t) in enumerate(several):
        expect("ape_nexus_several.nex", "#%d" % (k + 1), nm, t, order5, same)
    expect("ape_nexus_several.nex", "=second", "second", T5B, order5, same)
    expect("ape_nexus_several.nex", "-", "third", T5C, order5, same)
    fname = "ape_nexus_several_notranslate.nex"
    several = (("two", T2), ("thirty", T30), ("three", T3))
    for k, (nm, t) in enumerate(several):
        check_readback(fname, "nexus", k, t, u)
        expect(fname, "#%d" % (k + 1), nm, t, [u(n) for n in leaves(t)], u)
    expect(fname, "=thirty", "thirty", T30, [u(n) for n in leaves(T30)], u)
    expect(fname, "-", "three", T3, [u(n) for n in leaves(T3)], u)
    expect_error("ape_reject_one_child.nwk", "only one child", 1)
    check_readback("ape_polytomy.nwk", "newick", 0, TP, u)
    expect("ape_polytomy.nwk", "-", "", TP, leaves(TP), u)
    order = sorted(leaves(TP))[::-1]
    check_translate("ape_polytomy.nex", order)
    expect("ape_polytomy.nex", "-", "UNTITLED", TP, order, same,
           line=tree_line("ape_polytomy.nex"))


def dendropy_tree(t, tns, name=None):
    def build(nd):
        x = dendropy.Node()
        if is_leaf(nd):
            x.taxon = tns.get_taxon(nd[0])
        else:
            for child in children(nd):
                x.add_child(build(child))
            x.label = label_of(nd)
        x.edge.length = nd[-1]
        return x

    return dendropy.Tree(seed_node=build(t), taxon_namespace=tns, is_rooted=True, label=name)


def namespace(names):
    tns = dendropy.TaxonNamespace()
    for n in names:
        tns.require_taxon(label=n)
    return tns


def write_dendropy():
    u = dendropy_default

    def single(fname, schema, t, order, translate=False, rename=u, name="first", **options):
        tns = namespace(order)
        tree = dendropy_tree(t, tns, name)
        if schema == "nexus":
            options["translate_tree_taxa"] = translate
        tree.write(path=os.path.join(HERE, fname), schema=schema, **options)
        tree_name = name if schema == "nexus" else ""
        labels = not options.get("suppress_internal_node_labels", False)
        line = tree_line(fname) if schema == "nexus" else 1
        if translate:
            check_translate(fname, [rename(n) for n in order])
            expect(fname, "-", tree_name, t, [rename(n) for n in order], rename, labels, line)
        else:
            check_readback(fname, schema, 0, t, rename, labels)
            expect(fname, "-", tree_name, t, [rename(n) for n in leaves(t)], rename, labels, line)

    # Defaults: a TAXA block and names in the tree, [&R] before it.
    single("dendropy_nexus_5.nex", "nexus", T5, leaves(T5))
    single("dendropy_nexus_8.nex", "nexus", T8, leaves(T8))
    single("dendropy_nexus_30.nex", "nexus", T30, leaves(T30))
    single("dendropy_newick_8.nwk", "newick", T8, leaves(T8))
    single("dendropy_newick_30.nwk", "newick", T30, leaves(T30))
    # Variants: TRANSLATE numbers in another order than the tree's, no
    # [&R], underscores left unquoted and blanks kept in quotes, no TAXA
    # block and no internal labels.
    single("dendropy_nexus_8_translate.nex", "nexus", T8, sorted(leaves(T8)), translate=True)
    single("dendropy_nexus_3_translate.nex", "nexus", T3, ["20", "3", "1"], translate=True)
    single("dendropy_newick_5_unrooted.nwk", "newick", T5, leaves(T5), suppress_rooting=True)
    single("dendropy_newick_5_spaces.nwk", "newick", T5, leaves(T5), rename=same,
           unquoted_underscores=True, preserve_spaces=True)
    single("dendropy_nexus_8_spaces.nex", "nexus", T8, leaves(T8), rename=same,
           unquoted_underscores=True, preserve_spaces=True)
    single("dendropy_nexus_5_bare.nex", "nexus", T5, leaves(T5), suppress_taxa_blocks=True,
           unquoted_underscores=True, suppress_internal_node_labels=True)

    # Several trees in a TreeList.
    tns = namespace(sorted(leaves(T8)))
    tl = dendropy.TreeList([dendropy_tree(T8, tns, "quoted"), dendropy_tree(T8B, tns, "ladder")],
                           taxon_namespace=tns)
    fname = "dendropy_nexus_several_translate.nex"
    tl.write(path=os.path.join(HERE, fname), schema="nexus", translate_tree_taxa=True)
    order = sorted(leaves(T8))
    check_translate(fname, order)
    expect(fname, "#1", "quoted", T8, order, u)
    expect(fname, "=quoted", "quoted", T8, order, u)
    expect(fname, "-", "ladder", T8B, order, u)
    fname = "dendropy_nexus_several.nex"
    tl.write(path=os.path.join(HERE, fname), schema="nexus")
    for k, (nm, t) in enumerate((("quoted", T8), ("ladder", T8B))):
        check_readback(fname, "nexus", k, t, u)
        expect(fname, "#%d" % (k + 1), nm, t, [u(n) for n in leaves(t)], u)
    expect(fname, "-", "ladder", T8B, [u(n) for n in leaves(T8B)], u)
    fname = "dendropy_newick_several.nwk"
    tns = namespace(leaves(T30) + leaves(T2))
    dendropy.TreeList([dendropy_tree(T30, tns), dendropy_tree(T2, tns)], taxon_namespace=tns).write(
        path=os.path.join(HERE, fname), schema="newick")
    for k, t in enumerate((T30, T2)):
        check_readback(fname, "newick", k, t, u)
        expect(fname, "#%d" % (k + 1), "", t, [u(n) for n in leaves(t)], u)
    expect(fname, "-", "", T30, [u(n) for n in leaves(T30)], u)

    # Nodes of more than two children, support labels.
    single("dendropy_three_children.nwk", "newick", T3C, leaves(T3C), name="three")
    single("dendropy_three_children.nex", "nexus", T3C, leaves(T3C), name="three")
    single("dendropy_polytomy.nwk", "newick", TP, leaves(TP))
    single("dendropy_polytomy.nex", "nexus", TP, leaves(TP))
    single("dendropy_polytomy_translate.nex", "nexus", TP, sorted(leaves(TP))[::-1],
           translate=True)


def tree_line(fname):
    """The line (from 1) of the file's first tree statement."""
    for k, line in enumerate(open(os.path.join(HERE, fname)), 1):
        if re.match(r"\s*tree\b", line, re.I):
            return k
    raise AssertionError(fname)


def quoted(name):
    if re.fullmatch(r"[A-Za-z0-9_.\-]+", name):
        return name
    return "'" + name.replace("'", "''") + "'"


def newick(t, label, labels=False, sep=","):
    """Newick text of t, each leaf written as label(name), each node's
    label after its ")" with labels, children parted by sep."""
    if is_leaf(t):
        return label(t[0])
    kids = ["%s:%r" % (newick(c, label, labels, sep), c[-1]) for c in children(t)]
    own = quoted(label_of(t)) if labels and label_of(t) is not None else ""
    return "(" + sep.join(kids) + ")" + own


def write_by_hand():
    """Files as tree viewers and hand editors write them."""
    order = sorted(leaves(T8))
    number = {n: str(k + 1) for k, n in enumerate(order)}

    def put(fname, text):
        with open(os.path.join(HERE, fname), "w", newline="") as f:
            f.write(text)

    # Lower-case keywords, comments, a TRANSLATE table on one line.
    table = ", ".join("%s %s" % (number[n], quoted(n)) for n in order)
    put("hand_lowercase_oneline_translate.nex",
        "#nexus\n[written by hand]\nbegin trees;\n  translate %s;\n"
        "  tree [a comment] hand = [&R] %s;\nend;\n" % (table, newick(T8, number.get)))
    expect("hand_lowercase_oneline_translate.nex", "-", "hand", T8, order, same, labels=False)
    # TREE * name, as FigTree and PAUP write the default tree; CR LF line
    # ends; a comment inside the tree.
    rows = [" %s %s" % (number[n], quoted(n)) for n in order]
    text = newick(T8, number.get)
    text = text[:1] + "[&label=x]" + text[1:]
    put("hand_star_crlf.nex",
        "#NEXUS\r\nBEGIN TREES;\r\n\tTRANSLATE\r\n%s\r\n\t;\r\n"
        "\tTREE * UNTITLED = [&U] %s;\r\nEND;\r\n" % (",\r\n".join(rows), text))
    expect("hand_star_crlf.nex", "-", "UNTITLED", T8, order, same, labels=False)
    # Names and lengths without TRANSLATE, the tree over several lines.
    lines = newick(T30, quoted).replace("),", "),\n    ")
    put("hand_multiline.nex", "#NEXUS\nBegin Trees;\n  Tree multi =\n    %s;\nEnd;\n" % lines)
    expect("hand_multiline.nex", "-", "multi", T30, leaves(T30), same, labels=False)
    # A node of three children through TRANSLATE numbers.
    put("hand_three_children.nex",
        "#NEXUS\nBEGIN TREES;\n\tTRANSLATE\n\t\t1 a,\n\t\t2 b,\n\t\t3 c\n\t;\n"
        "\tTREE t = (1:1,2:1,3:1);\nEND;\n")
    expect("hand_three_children.nex", "-", "t", poly([leaf(n, 1.0) for n in "abc"], None),
           ["a", "b", "c"], same, labels=False, line=tree_line("hand_three_children.nex"))
    # Support labels and nodes of more than two children over many lines,
    # CR LF, a line break between every child; the tree (its root the first
    # node of more than two) opens on the line after the statement's.
    put("hand_polytomy_multiline.nwk",
        "[written by hand]\r\n%s\r\n;\r\n" % newick(TP, quoted, True, "\r\n,\r\n  "))
    expect("hand_polytomy_multiline.nwk", "-", "", TP, leaves(TP), same, line=2)
    put("hand_reject_one_child.nex",
        "#NEXUS\nBEGIN TREES;\n\tTRANSLATE\n\t\t1 a,\n\t\t2 b,\n\t\t3 c\n\t;\n"
        "\tTREE t = ((1:1,2:1):1,(3:1):1);\nEND;\n")
    expect_error("hand_reject_one_child.nex", "only one child",
                 tree_line("hand_reject_one_child.nex"))


def main():
    for f in os.listdir(HERE):
        if f.endswith((".nex", ".nwk")):
            os.unlink(os.path.join(HERE, f))
    write_ape()
    write_dendropy()
    write_by_hand()
    with open(os.path.join(HERE, "expected.tsv"), "w") as out:
        out.write("# Written by make_peer_trees.py from its known trees.\n")
        out.write("\t".join(["file", "choice", "tree", "names", "shape", "lengths", "error",
                             "line", "support", "polytomy"]) + "\n")
        for row in ROWS:
            assert all("\t" not in x and "\n" not in x for x in row), row
            out.write("\t".join(row) + "\n")
    print("%d files, %d rows" % (len({r[0] for r in ROWS}), len(ROWS)), file=sys.stderr)


if __name__ == "__main__":
    main()
