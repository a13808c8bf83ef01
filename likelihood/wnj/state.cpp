#include "wnj/state.h"

namespace wnj {

_NodeT** nodes = nullptr;
double** mD = nullptr;
double* vC = nullptr;
double** mS = nullptr;
double** mDelB = nullptr;
double** mDel2B = nullptr;
double** s = nullptr;
double** deltaB = nullptr;
double** delta2B = nullptr;
int ta = 0, tb = 0, tc = 0;
double** slotDistance = nullptr;
double* slotOffset = nullptr;
int* slotNodeIndex = nullptr;
double** slotPathVariance = nullptr;
int PARKED_SLOT = 0;
int warnFlag = 0;

} // namespace wnj
