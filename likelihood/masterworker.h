// The job's exchange: process 0 hands sites to the workers one at a time and collects their
// results; the workers compute them. The work itself lives in sitework.
#ifndef CORE_MASTERWORKER_H
#define CORE_MASTERWORKER_H

// The master: runs the chosen alpha phase and the final phase over `size` processes and
// writes the phase tables and the final tables; returns after closing the result file.
void cal_likelihood(int size);

// A worker: answers the master's sites until its stop message in every phase.
void cal_Tree();

#endif
