// The exchange of a job over MPI: the transport that the program hands to the master's and
// the workers' loops.
#ifndef JOB_MPITRANSPORT_H
#define JOB_MPITRANSPORT_H

#include "masterworker.h"

// The one transport of this process; MPI must be initialised before the first call.
SiteTransport& mpiTransport();

#endif
