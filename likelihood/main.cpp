// The program entry of dadiverur: one process of an MPI job.
#include "masterworker.h"
#include "mpitransport.h"
#include "numerics/fault.h"
#include "numerics/matrixalgebra.h"
#include "settings.h"
#include "vantrel.h"
#include "wnj/io.h"

#include <mpi.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

// A fatal error in any process ends the whole job with its status, which mpiexec returns;
// what the process has printed is flushed first, and no half-written distance or tree file is
// left beside the finished ones.
void abortJob(int status) {
    wnj::removeUnfinishedFiles();
    std::fflush(stdout);
    std::fflush(stderr);
    if (resultFile) std::fflush(resultFile);
    // The launcher passes output on through pipes and stops reading them once the job is
    // aborted: give it a moment to forward what this process has written.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    MPI_Abort(MPI_COMM_WORLD, status);
    std::_Exit(status);
}

// An interrupted job leaves no half-written file behind either: the launcher passes an
// interrupt (Ctrl-C, the end of a scheduler's time) on to every process, and ends the other
// processes with a signal when one of them aborts the job.
void endOnSignal(int signal) {
    wnj::removeUnfinishedFiles();
    // The handler is reset: the default action ends the process once this returns.
    std::raise(signal);
}

void removeUnfinishedFilesOnSignals() {
    struct sigaction action {};
    action.sa_handler = endOnSignal;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

// Rank 0 reports the fault and aborts the job, which ends this process during the wait;
// should that not come, the wait returns and this process reports the fault and ends the job.
void awaitRankZeroAbort() {
    std::this_thread::sleep_for(std::chrono::seconds(30));
}

// Every process receives every share in place; a process's own block is already there.
void allGather(double* values, const int* counts, const int* offsets) {
    MPI_Allgatherv(MPI_IN_PLACE, 0, MPI_DATATYPE_NULL, values, counts, offsets, MPI_DOUBLE, MPI_COMM_WORLD);
}

long tagLimit() {
    int* value = nullptr;
    int found = 0;
    MPI_Comm_get_attr(MPI_COMM_WORLD, MPI_TAG_UB, &value, &found);
    // Every MPI library supports tags up to 32767 at least.
    return found ? *value : 32767;
}

} // namespace

int main(int argc, char** argv) {
    MPI_Init(&argc, &argv);
    // Progress lines reach the launcher whole and in time, however many processes write.
    static char lineBuffer[1 << 16];
    std::setvbuf(stdout, lineBuffer, _IOLBF, sizeof lineBuffer);
    int size = 0, rank = 0;
    MPI_Comm_size(MPI_COMM_WORLD, &size);
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    jobSize = size;
    jobRank = rank;
    jobTagLimit = tagLimit();
    fatalExitHook = abortJob;
    awaitJobEndHook = awaitRankZeroAbort;
    gatherSharesHook = allGather;
    removeUnfinishedFilesOnSignals();

    main_function(argc, argv);

    if (rank == 0) {
        cal_likelihood(size, mpiTransport());
        finishResultFile();
    } else {
        cal_Tree(mpiTransport());
    }

    MPI_Finalize();
    return 0;
}
