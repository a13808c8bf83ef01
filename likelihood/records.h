// The plain records of the core: a node of the alignment's tree, a node of a per-site tree
// and a branch of the unrooted tree; and the residue states their vectors are indexed by.
#ifndef CORE_RECORDS_H
#define CORE_RECORDS_H

// The residue states 1..RESIDUE_STATES; code 0 is a gap.
constexpr int RESIDUE_STATES = 20;

// Below these the core takes a site rate or a residue frequency (or probability) as zero. A
// rate of exactly RATE_TAKEN_AS_ZERO stands for rate 0 where a rate must be positive.
constexpr double RATE_TAKEN_AS_ZERO = 1e-8;
constexpr double FREQUENCY_TAKEN_AS_ZERO = 1e-8;

// Longest sequence name a NODE holds; the alignment reader refuses longer names.
constexpr int NODE_NAME_MAX = 51;

struct NODE {
    char name[NODE_NAME_MAX + 1]; // empty for record 0 and the inner records
    int id;                       // own index
    int level;                    // depth below the top node
    int left, right;              // children; 0 at a leaf
    char isRoot;                  // 1 at the top node
    int third;                    // third child, top node only
    int parent;                   // the top node is its own parent
    double length;                // branch length to the parent
    char* seq;                    // [0] blank, [1..seqLength] letters, [seqLength+1] NUL
    int* code;                    // residue code per site, 1..seqLength
};

// Every process holds (L + 2)(2n - 1) of these: the fields are ordered to leave little padding,
// and the vector lives in its tree's store (see topmatrix), not in the record.
struct SiteTreeNode {
    int level;
    int left, right, third;
    int parent;
    int scale; // power-of-ten exponent carried with vec
    char isRoot;
    char gap; // 1: pruned from this site's tree (a gapped leaf or an emptied inner node)
    double length;
    double* vec; // conditional likelihoods or state probabilities, entries 1..RESIDUE_STATES
};

struct BranchRecord {
    double length;
    int leftPoint;       // upper end
    int rightPoint;      // lower end
    int leftLeafNumber;  // leaves not below the lower end
    int rightLeafNumber; // leaves below the lower end
};

#endif
