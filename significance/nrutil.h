// quorvel's index-range storage and its fatal error routine.
//
// A vector made for lo..hi is indexed with exactly those numbers and keeps one spare element
// below lo; a matrix is a table of row handles over one contiguous row-major block. Contents
// are not initialised. A release takes the same lower bounds as the allocation.
#ifndef SIGNIFICANCE_NRUTIL_H
#define SIGNIFICANCE_NRUTIL_H

// Writes the three-line run-time error report to standard error and exits with status 1.
[[noreturn]] void nrerror(const char* error_text);

float* vector(long nl, long nh);
int* ivector(long nl, long nh);
unsigned char* cvector(long nl, long nh);
unsigned long* lvector(long nl, long nh);
double* dvector(long nl, long nh);

float** matrix(long nrl, long nrh, long ncl, long nch);
double** dmatrix(long nrl, long nrh, long ncl, long nch);
int** imatrix(long nrl, long nrh, long ncl, long nch);
unsigned char** cmatrix(long nrl, long nrh, long ncl, long nch);
unsigned char** bmatrix(long nrl, long nrh, long ncl, long nch);

// New row handles newrl.., newcl.. onto rows oldrl..oldrh, columns oldcl..oldch of a; no copy.
float** submatrix(float** a, long oldrl, long oldrh, long oldcl, long oldch, long newrl, long newcl);
// Row handles that view the flat array a (row-major, nch-ncl+1 per row) as a matrix.
float** convert_matrix(float* a, long nrl, long nrh, long ncl, long nch);
double** dconvert_matrix(double* a, long nrl, long nrh, long ncl, long nch);
float*** f3tensor(long nrl, long nrh, long ncl, long nch, long ndl, long ndh);

void free_vector(float* v, long nl, long nh);
void free_ivector(int* v, long nl, long nh);
void free_cvector(unsigned char* v, long nl, long nh);
void free_lvector(unsigned long* v, long nl, long nh);
void free_dvector(double* v, long nl, long nh);
void free_matrix(float** m, long nrl, long nrh, long ncl, long nch);
void free_dmatrix(double** m, long nrl, long nrh, long ncl, long nch);
void free_imatrix(int** m, long nrl, long nrh, long ncl, long nch);
void free_submatrix(float** b, long nrl, long nrh, long ncl, long nch);
void free_convert_matrix(float** b, long nrl, long nrh, long ncl, long nch);
void free_dconvert_matrix(double** b, long nrl, long nrh, long ncl, long nch);
void free_f3tensor(float*** t, long nrl, long nrh, long ncl, long nch, long ndl, long ndh);

#endif
