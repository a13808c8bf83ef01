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
#include <ctime>
#include <thread>

namespace {

// The signals by which a job is interrupted: Ctrl-C, the end of a scheduler's time, a hang-up.
// The launcher passes them on to every process.
sigset_t interrupts() {
    sigset_t signals;
    sigemptyset(&signals);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&signals, signal);
    return signals;
}

// An interrupt that comes while MPI starts or ends waits: the job can be ended through MPI only
// between the two, and once the result has its name there is nothing left to interrupt.
void holdInterrupts() {
    sigset_t signals = interrupts();
    sigprocmask(SIG_BLOCK, &signals, nullptr);
}

// A fatal error in any process ends the whole job with its status, which mpiexec returns;
// what the process has printed is flushed first, no half-written distance or tree file is left
// beside the finished ones, and what the result had so far goes to its partial file.
void abortJob(int status) {
    // An interrupt now would end the job a second time, with its own status in place of this one.
    holdInterrupts();
    if (resultFile) std::fflush(resultFile);
    wnj::abandonUnfinishedFiles();
    std::fflush(stdout);
    std::fflush(stderr);
    // The launcher passes output on through pipes and stops reading them once the job is
    // aborted: give it a moment to forward what this process has written.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    MPI_Abort(MPI_COMM_WORLD, status);
    std::_Exit(status);
}

// An interrupted job ends with 128 + the signal, as a shell reports a command the signal ended,
// and leaves no half-written file behind. It ends through MPI_Abort, as a fault does: of
// processes that end by the signal or exit on their own, the launcher passes on the status only
// of one it sees end before it kills the rest, and often counts them all as ending with 0, so that
// an interrupted job would pass for a finished one.
void endOnInterrupt(int signal) {
    // Every process is interrupted; rank 0 holds the unfinished files and ends the job once it
    // has dealt with them. Another process that aborted first would have the launcher kill rank
    // 0 outright, so it leaves rank 0 a second to do so.
    if (jobRank != 0) {
        struct timespec pause = {1, 0};
        nanosleep(&pause, nullptr);
    }
    wnj::abandonUnfinishedFiles();
    MPI_Abort(MPI_COMM_WORLD, 128 + signal);
    _exit(128 + signal);
}

void endJobOnInterrupts() {
    struct sigaction action {};
    action.sa_handler = endOnInterrupt;
    // One interrupt ends the job; another that comes meanwhile waits.
    action.sa_mask = interrupts();
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
    sigprocmask(SIG_UNBLOCK, &action.sa_mask, nullptr);
}

// Rank 0 meets the same fault at about the same moment, reports it and aborts the job, which
// ends this process during the wait. When that end does not come within a second, rank 0 is
// elsewhere (in a gather of the shared preparation, waiting for this process's share): the wait
// returns and this process reports the fault and ends the job.
void awaitRankZeroAbort() {
    std::this_thread::sleep_for(std::chrono::seconds(1));
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
    holdInterrupts();
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
    gatherSharesHook = gatherOverMpi;
    endJobOnInterrupts();

    main_function(argc, argv);

    if (rank == 0) {
        cal_likelihood(size, mpiTransport());
        finishResultFile();
    } else {
        cal_Tree(mpiTransport());
    }

    holdInterrupts();
    MPI_Finalize();
    return 0;
}
