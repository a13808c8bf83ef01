// The job's exchange: process 0 hands sites to the workers one at a time and collects their
// results; the workers compute them. The work itself lives in sitework, and the messages go
// through a transport that the program supplies (MPI in a job), so the loops know nothing of
// how processes talk.
#ifndef CORE_MASTERWORKER_H
#define CORE_MASTERWORKER_H

// A result as it arrives at the master: the worker that sent it and its tag, the site.
struct ResultArrival {
    int worker;
    int site;
};

// The messages of the exchange. A site message is tagged with its site, a stop with 0, a
// result with its site and the alpha vector with the receiving worker's rank.
struct SiteTransport {
    virtual ~SiteTransport() = default;
    // This process's host, as the progress lines name it.
    virtual const char* processorName() = 0;

    // The master's side.
    virtual void sendSite(int worker, int site) = 0;
    virtual void sendStop(int worker) = 0;
    // Waits for the next result of count values from any worker.
    virtual ResultArrival receiveResult(double* values, int count) = 0;
    virtual void sendAlphaVector(int worker, const double* v, int count) = 0;

    // A worker's side: the next message from the master, its tag returned and a site's
    // number put in *site (a stop leaves *site as it was).
    virtual int receiveSite(int* site) = 0;
    virtual void sendResult(int site, const double* values, int count) = 0;
    virtual void receiveAlphaVector(double* v, int count) = 0;
};

// The master: runs the chosen alpha phase and the final phase over `size` processes and
// writes the phase tables and the final tables; returns after closing the result file.
void cal_likelihood(int size, SiteTransport& transport);

// A worker: answers the master's sites until its stop message in every phase.
void cal_Tree(SiteTransport& transport);

#endif
