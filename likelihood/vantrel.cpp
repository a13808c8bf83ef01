#include "vantrel.h"

int refineFlag = 1;
double gapForEst = 0.5;
char EntropyEstimatedFlag = 0;
char pseudoSitePIFlag = 0;
FILE* resultFile = stdout;

int jobSize = 0;
int jobRank = 0;
long jobTagLimit = 0;
