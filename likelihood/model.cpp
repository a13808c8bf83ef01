#include "model.h"

double** S_ij = nullptr;
double** Q_ij = nullptr;
double* PI = nullptr;
double** a = nullptr;
double** v = nullptr;
double** inv = nullptr;
double* wr = nullptr;
double* wi = nullptr;
double* w = nullptr;
double** svdv = nullptr;
double* colu = nullptr;
double** sitePI = nullptr;
unsigned long modelVersion = 0;
