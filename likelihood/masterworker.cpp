#include "masterworker.h"

#include "alignment.h"
#include "numerics/matrixalgebra.h"
#include "sitework.h"
#include "vantrel.h"

#include <mpi.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

char processorName[MPI_MAX_PROCESSOR_NAME];

void readProcessorName() {
    int length = 0;
    MPI_Get_processor_name(processorName, &length);
}

// The master's receive from any worker. MPI libraries wait for a message by spinning; the
// master spends nearly all its time waiting, and on the cores it shares with its workers it
// looks for the next result a few thousand times a second instead, leaving them the CPU.
void receiveResult(double* result, int count, MPI_Status* status) {
    MPI_Request request;
    MPI_Irecv(result, count, MPI_DOUBLE, MPI_ANY_SOURCE, MPI_ANY_TAG, MPI_COMM_WORLD, &request);
    int arrived = 0;
    MPI_Test(&request, &arrived, status);
    while (!arrived) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        MPI_Test(&request, &arrived, status);
    }
}

void sendSite(int site, int worker) {
    MPI_Send(&site, 1, MPI_INT, worker, site, MPI_COMM_WORLD);
}

void sendStop(int worker) {
    MPI_Send(nullptr, 0, MPI_INT, worker, 0, MPI_COMM_WORLD);
}

// Hands out every site once and passes each result (count doubles) to handle(site, result,
// worker). A worker is answered before its result is handled, so it never waits for the
// master's bookkeeping or output; the master's lines keep their order all the same.
template <typename Handle> void handOut(int size, int count, bool finalPhase, Handle handle) {
    int first = firstSiteCount(size);
    for (int n = 1; n <= first; n++) {
        sendSite(n, n);
        printf("server: %s send message for site %d\n", processorName, n);
    }
    int next = first + 1;
    std::vector<double> result(count);
    for (int received = 0; received < seqLength; received++) {
        MPI_Status status;
        receiveResult(result.data(), count, &status);
        int worker = status.MPI_SOURCE;
        int site = nextSite(next);
        if (site > 0)
            sendSite(site, worker);
        else
            sendStop(worker);
        handle(status.MPI_TAG, result.data(), worker);
        if (site > 0 && finalPhase)
            printf("server: %s send message to %d for site %d\n", processorName, worker, site);
    }
}

// Receives every worker's alpha estimate, one per site, printing each as it comes.
std::vector<double> collectAlpha(int size) {
    std::vector<double> v(seqLength + 1, 0.0);
    handOut(size, 1, false, [&](int site, const double* x, int) {
        printAlphaResult(stdout, site, x[0]);
        v[site] = x[0];
    });
    return v;
}

void sendAlphaVector(int size, std::vector<double>& v) {
    for (int rank = 1; rank < size; rank++)
        MPI_Send(v.data(), seqLength + 1, MPI_DOUBLE, rank, rank, MPI_COMM_WORLD);
}

void adoptAlpha(const std::vector<double>& v) {
    for (int s = 1; s <= seqLength; s++) alfa[s] = v[s];
}

void masterAlphaPhase(int size) {
    if (refineFlag != 0 && refineFlag != 3 && refineFlag != 4) return;
    std::vector<double> v = collectAlpha(size);
    if (refineFlag == 4) {
        sendAlphaVector(size, v);
        writeAlphaTable("result from optimizing alpha based on simulation\n", v.data(), resultFile);
    } else {
        bool ml = refineFlag == 0;
        adoptClippedAlpha(v.data(), ml ? AlphaEstimate::MaximumLikelihood : AlphaEstimate::SimulatedEntropy,
                          resultFile);
        sendAlphaVector(size, v);
        writeAlphaTable(ml ? "result from optimizing alpha\n"
                           : "result from optimizing alpha based on simulation\n",
                        v.data(), resultFile);
    }
    adoptAlpha(v);
}

void masterFinalPhase(int size) {
    initFinalTables();
    handOut(size, SITE_RECORD_SIZE, true, [](int site, const double* record, int worker) {
        printf("server: %s receive message from %d\n", processorName, worker);
        storeSiteRecord(site, record);
        printSiteSummary(stdout, site);
        fflush(stdout);
        if (site == 1) writeRecordColumn(resultFile, record);
        flushResultFile();
    });
    writeFinalTables(resultFile);
    closeResultFile();
}

// Receives from the master; returns the tag (0 for a stop) and the site in *site.
int receiveSite(int* site) {
    MPI_Status status;
    MPI_Recv(site, 1, MPI_INT, 0, MPI_ANY_TAG, MPI_COMM_WORLD, &status);
    return status.MPI_TAG;
}

void workerAlphaPhase() {
    double (*work)(int) = nullptr;
    if (refineFlag == 0) work = mlAlphaSite;
    if (refineFlag == 3) work = simulatedEntropyAlphaSite;
    if (refineFlag == 4) work = expectedEntropyAlphaSite;
    if (!work) return;
    if (jobRank <= seqLength) {
        int site = 0;
        while (receiveSite(&site) > 0) {
            double x = work(site);
            MPI_Send(&x, 1, MPI_DOUBLE, 0, site, MPI_COMM_WORLD);
        }
    }
    std::vector<double> v(seqLength + 1);
    MPI_Recv(v.data(), seqLength + 1, MPI_DOUBLE, 0, jobRank, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
    adoptAlpha(v);
}

void workerFinalPhase() {
    if (jobRank > seqLength) return;
    int site = 0;
    int tag = receiveSite(&site);
    printf("processor: %s receive message for site %d status tag: %d\n", processorName, site, tag);
    std::vector<double> record(SITE_RECORD_SIZE);
    while (tag > 0) {
        finalSiteWork(site, record.data());
        MPI_Send(record.data(), SITE_RECORD_SIZE, MPI_DOUBLE, 0, site, MPI_COMM_WORLD);
        tag = receiveSite(&site);
    }
}

} // namespace

void cal_likelihood(int size) {
    readProcessorName();
    printf("server: %s is running, rank: %d\n", processorName, jobRank);
    masterAlphaPhase(size);
    masterFinalPhase(size);
}

void cal_Tree() {
    readProcessorName();
    printf("processor: %s rank:%d is running\n", processorName, jobRank);
    workerAlphaPhase();
    workerFinalPhase();
    fflush(stdout);
}
