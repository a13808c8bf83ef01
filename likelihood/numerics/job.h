// The job this process belongs to, and the work its processes share.
//
// The program sets the job's facts and installs the gather hook before any work; the library
// and the core know nothing of how processes talk. Work that every process needs whole (the
// distances, the tree builder's join steps) is split into consecutive shares of items, one per
// process: each process computes its own share, and the gather gives every process all of
// them, the same values that one process computing every item gets. Outside a job, or without
// the hook, one share holds every item.
#ifndef NUMERICS_JOB_H
#define NUMERICS_JOB_H

#include <cstddef>
#include <vector>

// The number of processes, this process's rank and the largest message tag. jobSize 0 means
// the code runs outside a job (unit tests), where no process count is checked and this
// process writes.
extern int jobSize;
extern int jobRank;
extern long jobTagLimit;

// Every process of a job computes alike; one of them, rank 0 (or the process outside a job),
// writes the files, so that one intact copy of each results.
bool writesFiles();

// Gives every process the values of all: values holds counts[r] doubles of process r from
// offsets[r] on; this process has filled its own block.
using GatherSharesHook = void (*)(double* values, const int* counts, const int* offsets);
extern GatherSharesHook gatherSharesHook;

// Consecutive shares of items 0..count-1: share r holds start[r] up to start[r+1].
struct Shares {
    std::vector<std::size_t> start;

    int count() const { return static_cast<int>(start.size()) - 1; }
    std::size_t begin(int share) const { return start[share]; }
    std::size_t end(int share) const { return start[share + 1]; }
    // This process's share.
    std::size_t myBegin() const;
    std::size_t myEnd() const;
};

// The number of shares work is split into: the job's processes when they can gather, else 1.
int shareCount();

// Shares of items of about equal work.
Shares equalShares(std::size_t items);
// Shares whose summed work is about equal; work[k] >= 0 is item k's.
Shares balancedShares(const std::vector<double>& work);

// The most doubles one call of the hook moves, so that every count and offset fits an int.
constexpr std::size_t GATHER_WINDOW = std::size_t(1) << 26;

// values holds width doubles per item; this process has filled the items of its share. On
// return every item is filled on every process. The values pass in windows of at most window
// doubles, one call of the hook each.
void gatherShares(const Shares& shares, double* values, std::size_t width,
                  std::size_t window = GATHER_WINDOW);

#endif
