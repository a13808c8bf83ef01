#include "numerics/job.h"

#include <algorithm>

int jobSize = 0;
int jobRank = 0;
long jobTagLimit = 0;
GatherSharesHook gatherSharesHook = nullptr;

namespace {

int myShare() {
    return shareCount() > 1 ? jobRank : 0;
}

} // namespace

bool writesFiles() {
    return jobSize == 0 || jobRank == 0;
}

std::size_t Shares::myBegin() const {
    return begin(myShare());
}

std::size_t Shares::myEnd() const {
    return end(myShare());
}

int shareCount() {
    return gatherSharesHook && jobSize > 1 ? jobSize : 1;
}

Shares equalShares(std::size_t items) {
    int parts = shareCount();
    Shares shares;
    for (int r = 0; r <= parts; r++) shares.start.push_back(items * r / parts);
    return shares;
}

// Share r ends at the first item whose work, summed from item 0, reaches r/parts of the whole.
Shares balancedShares(const std::vector<double>& work) {
    int parts = shareCount();
    double total = 0.0;
    for (double w : work) total += w;
    Shares shares;
    shares.start.push_back(0);
    double sum = 0.0;
    std::size_t k = 0;
    for (int r = 1; r < parts; r++) {
        double bound = total * r / parts;
        while (k < work.size() && sum + work[k] / 2 < bound) sum += work[k++];
        shares.start.push_back(k);
    }
    shares.start.push_back(work.size());
    return shares;
}

void gatherShares(const Shares& shares, double* values, std::size_t width, std::size_t window) {
    int parts = shares.count();
    if (parts <= 1) return;
    std::size_t total = shares.end(parts - 1) * width;
    std::vector<int> counts(parts), offsets(parts);
    for (std::size_t from = 0; from < total; from += window) {
        std::size_t to = std::min(total, from + window);
        for (int r = 0; r < parts; r++) {
            std::size_t lo = std::clamp(shares.begin(r) * width, from, to);
            std::size_t hi = std::clamp(shares.end(r) * width, from, to);
            counts[r] = static_cast<int>(hi - lo);
            offsets[r] = static_cast<int>(lo - from);
        }
        gatherSharesHook(values + from, counts.data(), offsets.data());
    }
}
