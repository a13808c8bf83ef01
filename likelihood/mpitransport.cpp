#include "mpitransport.h"

#include "numerics/job.h"

#include <mpi.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

namespace {

// MPI libraries wait by spinning, which on a machine with more runnable processes than cores
// takes the core from the very processes waited for. Requests that complete within
// microseconds (a join step of the tree builder with no process behind, the rest of a transfer
// under way) are met by testing; once none has completed for a while the process sleeps
// between tests, each pause twice the last up to a bound that keeps a completed request from
// lying unnoticed for long.
void awaitRequests(int count, MPI_Request* requests, MPI_Status* statuses) {
    using Clock = std::chrono::steady_clock;
    constexpr auto spinning = std::chrono::microseconds(50);
    constexpr auto firstPause = std::chrono::microseconds(10);
    constexpr auto longestPause = std::chrono::microseconds(200);
    std::vector<int> completed(static_cast<std::size_t>(count));
    std::vector<MPI_Status> completedStatuses(static_cast<std::size_t>(count));
    auto spinEnd = Clock::now() + spinning;
    auto pause = firstPause;
    for (int open = count; open > 0;) {
        int found = 0;
        MPI_Testsome(count, requests, &found, completed.data(), completedStatuses.data());
        if (found == MPI_UNDEFINED) return;
        if (found > 0) {
            if (statuses != MPI_STATUSES_IGNORE)
                for (int k = 0; k < found; k++) statuses[completed[k]] = completedStatuses[k];
            open -= found;
            spinEnd = Clock::now() + spinning;
            pause = firstPause;
        } else if (Clock::now() >= spinEnd) {
            std::this_thread::sleep_for(pause);
            pause = std::min(2 * pause, longestPause);
        }
    }
}

class MpiTransport : public SiteTransport {
  public:
    MpiTransport() {
        int length = 0;
        MPI_Get_processor_name(name, &length);
    }

    const char* processorName() override { return name; }

    void sendSite(int worker, int site) override {
        MPI_Send(&site, 1, MPI_INT, worker, site, MPI_COMM_WORLD);
    }

    void sendStop(int worker) override { MPI_Send(nullptr, 0, MPI_INT, worker, 0, MPI_COMM_WORLD); }

    // The master spends nearly all its time waiting for results, on the cores it shares
    // with its workers: it leaves them those cores while it waits.
    ResultArrival receiveResult(double* values, int count) override {
        MPI_Request request;
        MPI_Status status;
        MPI_Irecv(values, count, MPI_DOUBLE, MPI_ANY_SOURCE, MPI_ANY_TAG, MPI_COMM_WORLD, &request);
        awaitRequests(1, &request, &status);
        return {status.MPI_SOURCE, status.MPI_TAG};
    }

    void sendAlphaVector(int worker, const double* v, int count) override {
        MPI_Send(v, count, MPI_DOUBLE, worker, worker, MPI_COMM_WORLD);
    }

    int receiveSite(int* site) override {
        MPI_Status status;
        MPI_Recv(site, 1, MPI_INT, 0, MPI_ANY_TAG, MPI_COMM_WORLD, &status);
        return status.MPI_TAG;
    }

    void sendResult(int site, const double* values, int count) override {
        MPI_Send(values, count, MPI_DOUBLE, 0, site, MPI_COMM_WORLD);
    }

    void receiveAlphaVector(double* v, int count) override {
        MPI_Recv(v, count, MPI_DOUBLE, 0, jobRank, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
    }

  private:
    char name[MPI_MAX_PROCESSOR_NAME] = {};
};

} // namespace

SiteTransport& mpiTransport() {
    static MpiTransport transport;
    return transport;
}

// The gathers pass on a communicator of their own, apart from the sites' messages. Every
// process enters the first gather, where it is made.
void gatherOverMpi(double* values, const int* counts, const int* offsets) {
    static MPI_Comm gathers = [] {
        MPI_Comm comm;
        MPI_Comm_dup(MPI_COMM_WORLD, &comm);
        return comm;
    }();
    // Each process sends its block straight to every other, so that the gather is over once
    // the last block has passed, whatever the order in which the processes finish their shares.
    std::vector<MPI_Request> requests;
    for (int r = 0; r < jobSize; r++) {
        if (r == jobRank) continue;
        if (counts[r] > 0) {
            requests.emplace_back();
            MPI_Irecv(values + offsets[r], counts[r], MPI_DOUBLE, r, 0, gathers, &requests.back());
        }
        if (counts[jobRank] > 0) {
            requests.emplace_back();
            MPI_Isend(values + offsets[jobRank], counts[jobRank], MPI_DOUBLE, r, 0, gathers,
                      &requests.back());
        }
    }
    awaitRequests(static_cast<int>(requests.size()), requests.data(), MPI_STATUSES_IGNORE);
}
