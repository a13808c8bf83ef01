#!/usr/bin/env python3
"""Makes examples/pkinase.aln from the Pfam Pkinase seed alignment that Debian's hmmer-doc
package ships (/usr/share/doc/hmmer/tutorial/Pkinase.sto), and a FASTA copy for FastTree.

Every sequence is kept; a column is kept when at most 10% of the sequences have a gap there
('.' and '-' in the Stockholm file, both written '-'). Names are the Pfam names cut before
the '/' of the residue range. The output is CLUSTAL W layout, 60 columns per block, with the
usual conservation line ('*' identical, ':' strongly, '.' weakly similar groups).

usage: make_pkinase.py [Pkinase.sto] [output.aln] [output.fasta]
"""
import sys

STRONG = ["STA", "NEQK", "NHQK", "NDEQ", "QHRK", "MILV", "MILF", "HY", "FYW"]
WEAK = ["CSA", "ATV", "SAG", "STNK", "STPA", "SGND", "SNDEQK", "NDEQHK", "NEQHRK", "FVLIM", "HFY"]


def conservation(column):
    letters = set(column)
    if "-" in letters:
        return " "
    if len(letters) == 1:
        return "*"
    if any(letters <= set(group) for group in STRONG):
        return ":"
    if any(letters <= set(group) for group in WEAK):
        return "."
    return " "


def main():
    source = sys.argv[1] if len(sys.argv) > 1 else "/usr/share/doc/hmmer/tutorial/Pkinase.sto"
    aln_path = sys.argv[2] if len(sys.argv) > 2 else "pkinase.aln"
    fasta_path = sys.argv[3] if len(sys.argv) > 3 else "pkinase.fasta"
    names, seqs = [], []
    for line in open(source):
        if not line.strip() or line.startswith("#") or line.startswith("//"):
            continue
        name, seq = line.split()
        names.append(name.split("/")[0])
        seqs.append(seq.replace(".", "-").upper())
    assert len(set(names)) == len(names) and max(map(len, names)) <= 20
    n = len(seqs)
    keep = [j for j in range(len(seqs[0])) if sum(s[j] == "-" for s in seqs) <= 0.1 * n]
    seqs = ["".join(s[j] for j in keep) for s in seqs]

    with open(aln_path, "w") as out:
        out.write("CLUSTAL W (1.83) multiple sequence alignment\n\n\n")
        for start in range(0, len(keep), 60):
            for name, seq in zip(names, seqs):
                out.write("%-16s%s\n" % (name, seq[start:start + 60]))
            block = [conservation([s[j] for s in seqs]) for j in range(start, min(start + 60, len(keep)))]
            out.write(" " * 16 + "".join(block) + "\n\n")
    with open(fasta_path, "w") as out:
        for name, seq in zip(names, seqs):
            out.write(">%s\n%s\n" % (name, seq))
    print("%d sequences, %d columns" % (n, len(keep)))


main()
