#include "masterworker.h"

#include "alignment.h"
#include "numerics/job.h"
#include "numerics/matrixalgebra.h"
#include "settings.h"
#include "sitework.h"

#include <cstdio>
#include <vector>

namespace {

const char* processorName = "";

// Hands out every site once and passes each result (count doubles) to handle(site, result,
// worker). A worker is answered before its result is handled, so it never waits for the
// master's bookkeeping or output; the master's lines keep their order all the same.
template <typename Handle>
void handOut(SiteTransport& transport, int size, int count, bool finalPhase, Handle handle) {
    int first = firstSiteCount(size);
    for (int n = 1; n <= first; n++) {
        transport.sendSite(n, n);
        printf("server: %s send message for site %d\n", processorName, n);
    }
    int next = first + 1;
    std::vector<double> result(count);
    for (int received = 0; received < seqLength; received++) {
        ResultArrival arrival = transport.receiveResult(result.data(), count);
        int worker = arrival.worker;
        int site = nextSite(next);
        if (site > 0)
            transport.sendSite(worker, site);
        else
            transport.sendStop(worker);
        handle(arrival.site, result.data(), worker);
        if (site > 0 && finalPhase)
            printf("server: %s send message to %d for site %d\n", processorName, worker, site);
    }
}

// Receives every worker's alpha estimate, one per site, printing each as it comes.
std::vector<double> collectAlpha(SiteTransport& transport, int size) {
    std::vector<double> v(seqLength + 1, 0.0);
    handOut(transport, size, 1, false, [&](int site, const double* x, int) {
        printAlphaResult(stdout, site, x[0]);
        v[site] = x[0];
    });
    return v;
}

void sendAlphaVector(SiteTransport& transport, int size, const std::vector<double>& v) {
    for (int rank = 1; rank < size; rank++) transport.sendAlphaVector(rank, v.data(), seqLength + 1);
}

void adoptAlpha(const std::vector<double>& v) {
    for (int s = 1; s <= seqLength; s++) alfa[s] = v[s];
}

void masterAlphaPhase(SiteTransport& transport, int size) {
    if (refineFlag != 0 && refineFlag != 3 && refineFlag != 4) return;
    std::vector<double> v = collectAlpha(transport, size);
    if (refineFlag == 4) {
        sendAlphaVector(transport, size, v);
        writeAlphaTable("result from optimizing alpha based on simulation\n", v.data(), resultFile);
    } else {
        bool ml = refineFlag == 0;
        adoptClippedAlpha(v.data(), ml ? AlphaEstimate::MaximumLikelihood : AlphaEstimate::SimulatedEntropy,
                          resultFile);
        sendAlphaVector(transport, size, v);
        writeAlphaTable(ml ? "result from optimizing alpha\n"
                           : "result from optimizing alpha based on simulation\n",
                        v.data(), resultFile);
    }
    adoptAlpha(v);
}

void masterFinalPhase(SiteTransport& transport, int size) {
    initFinalTables();
    handOut(transport, size, SITE_RECORD_SIZE, true, [](int site, const double* record, int worker) {
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

void workerAlphaPhase(SiteTransport& transport) {
    double (*work)(int) = nullptr;
    if (refineFlag == 0) work = mlAlphaSite;
    if (refineFlag == 3) work = simulatedEntropyAlphaSite;
    if (refineFlag == 4) work = expectedEntropyAlphaSite;
    if (!work) return;
    if (jobRank <= seqLength) {
        int site = 0;
        while (transport.receiveSite(&site) > 0) {
            double x = work(site);
            checkSiteValue(site, x, "alpha estimate");
            transport.sendResult(site, &x, 1);
        }
    }
    std::vector<double> v(seqLength + 1);
    transport.receiveAlphaVector(v.data(), seqLength + 1);
    adoptAlpha(v);
}

void workerFinalPhase(SiteTransport& transport) {
    if (jobRank > seqLength) return;
    int site = 0;
    int tag = transport.receiveSite(&site);
    printf("processor: %s receive message for site %d status tag: %d\n", processorName, site, tag);
    std::vector<double> record(SITE_RECORD_SIZE);
    while (tag > 0) {
        finalSiteWork(site, record.data());
        transport.sendResult(site, record.data(), SITE_RECORD_SIZE);
        tag = transport.receiveSite(&site);
    }
}

} // namespace

void cal_likelihood(int size, SiteTransport& transport) {
    processorName = transport.processorName();
    printf("server: %s is running, rank: %d\n", processorName, jobRank);
    masterAlphaPhase(transport, size);
    masterFinalPhase(transport, size);
}

void cal_Tree(SiteTransport& transport) {
    processorName = transport.processorName();
    printf("processor: %s rank:%d is running\n", processorName, jobRank);
    workerAlphaPhase(transport);
    workerFinalPhase(transport);
    fflush(stdout);
}
