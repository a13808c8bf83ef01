// The exchange of a job over MPI: the transport that the program hands to the master's and
// the workers' loops, and the gather of the work that the processes share.
#ifndef JOB_MPITRANSPORT_H
#define JOB_MPITRANSPORT_H

#include "masterworker.h"

// The one transport of this process; MPI must be initialised before the first call.
SiteTransport& mpiTransport();

// The job's gatherSharesHook: every process receives every share in place, its own block being
// there already. Every process of the job calls it at the same point of the work.
void gatherOverMpi(double* values, const int* counts, const int* offsets);

#endif
