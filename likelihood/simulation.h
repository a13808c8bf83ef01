// Column simulation down the rooted tree and the shuffle statistic of a column.
//
// All simulation works on tree 0 of gapTree, reset from the rooted copy copyTree[0] and
// pruned of the site's gapped leaves each time. Simulated states go into the leaves of node
// (code and letter) at the site; record 0 of node holds the simulated root state.
#ifndef CORE_SIMULATION_H
#define CORE_SIMULATION_H

#include <ctime>
#include <vector>

// The process-wide seed of ran1, shared by every caller; workers reseed it per site.
extern long idum;

// The clock that every reseed takes through srand; a test puts a fixed one in its place so
// that its simulated columns are the same in every run.
extern std::time_t (*seedClock)();

// The state a draw falls back on when nothing else is usable: the last residue (V).
constexpr int NONE_CAUGHT_STATE = 20;

// The leaves' letters and codes at one site, put back when the scope ends, however it ends:
// a simulation or a shuffle leaves the leaves holding the alignment.
class SavedColumn {
  public:
    explicit SavedColumn(int site);
    ~SavedColumn();
    SavedColumn(const SavedColumn&) = delete;
    SavedColumn& operator=(const SavedColumn&) = delete;

  private:
    int site;
    std::vector<int> code;
    std::vector<char> letter;
};

// Prunes the gapped leaves of gapTree[tree] below root; a rooted root has two children.
void reconstructTree(int tree, int root, bool rooted);
// The pruning step below record k: its subtrees first, then k itself.
void reconstruct(int tree, int k);

// Draws the states of k's children from k's state at the site, down to the leaves of tree 0;
// a leaf shows only residues that the model in use can hold (modelHolds).
void mutation(int site, int k);
// Pushes state-probability vectors from k to its children, down to the leaves of tree 0.
void mutation_vector(int site, int k);

// Mean entropy of N columns simulated at rate x, minus the observed entropy.
double func_simulation_alpha(int site, double x, int N);
// Entropy of the expected leaf distribution at rate x, divided by N, minus the observed entropy.
double func_simulation_vector(int site, double x, int N);

// Tree 0 becomes the rooted tree pruned of the site's gapped leaves. Returns false when the
// root is flagged (one side of it wholly gapped), so that nothing can be simulated.
bool prepareSimulationTree(int site);

// Draws the root state at the site from RootProbMatrix with the given seed variable, among the
// residues the model in use can hold (modelHolds), then simulates the column down tree 0 with
// the process-wide seed idum.
void drawRootState(int site, long* seed);

// start + the sum of -f ln f / divisor over the frequencies f above FREQUENCY_TAKEN_AS_ZERO of the residues
// among the leaves' non-gap codes at the site, term by term; 0 terms when no leaf has a residue.
double leafEntropy(int site, double divisor = 1.0, double start = 0.0);

// One shuffle of the leaves' column: 100·seqNum transpositions of two leaves drawn with idum,
// carried out when both hold a residue.
void shuffleColumn(int site);

// The shuffles whose mean log-likelihood a shuffle statistic compares with the column's own.
constexpr int SHUFFLES = 100;

// The leaves' column at the site as row 0 of codes (leaf i's code at codes[i]), then its
// SHUFFLES shuffles as rows 1..SHUFFLES (row s at codes + s * stride), each drawn with idum from
// the column itself.
void drawShuffles(int site, unsigned char* codes, int stride);

// (mean log-likelihood of 100 shuffles of the leaves' column - its own log-likelihood) / mean.
double shuffleStatistic(int site);

#endif
