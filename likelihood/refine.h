// Whole-alignment rate refinement and the report of the inner nodes' residues.
#ifndef CORE_REFINE_H
#define CORE_REFINE_H

#include <vector>

// The site optimalAlfa is working on.
extern int Anneal_site_func1;

// The pruning recursion of calRL on tree t below record c at rate a, with the leaf codes of
// column col (node[c].code[col]).
void calRL(int t, int c, int col, double a);

// mode 0: optimises every site's rate; 1: sets every rate to 1.0; 2: keeps the rates.
// method 1: inner states by optTree; 0: by optTree_Goldstein, with their probability table.
// noReport: stops after the rate tables. Tables go to resultFile, progress lines to standard
// output.
void optimalAlfa(int mode, int method, bool noReport);

// The inner nodes' residues at rate 1.0 for every site, method as for optimalAlfa.
void noOptimalAlfa(int method);

#endif
