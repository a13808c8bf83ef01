#include "mpitransport.h"

#include "numerics/job.h"

#include <mpi.h>

#include <chrono>
#include <thread>

namespace {

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

    // MPI libraries wait for a message by spinning; the master spends nearly all its time
    // waiting, and on the cores it shares with its workers it looks for the next result a
    // few thousand times a second instead, leaving them the CPU.
    ResultArrival receiveResult(double* values, int count) override {
        MPI_Request request;
        MPI_Status status;
        MPI_Irecv(values, count, MPI_DOUBLE, MPI_ANY_SOURCE, MPI_ANY_TAG, MPI_COMM_WORLD, &request);
        int arrived = 0;
        MPI_Test(&request, &arrived, &status);
        while (!arrived) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            MPI_Test(&request, &arrived, &status);
        }
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
