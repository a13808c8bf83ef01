#include "alignment.h"

const char aa[] = "-ARNDCQEGHILKMFPSTWYV";

int nal = 0;
int alilen = 0;
char** aname = nullptr;
char** aseq = nullptr;
int* astart = nullptr;
int* alen = nullptr;

int seqNum = 0;
int seqLength = 0;
int DIM = 0;

NODE* node = nullptr;
BranchRecord* branch = nullptr;
SiteTreeNode** gapTree = nullptr;
SiteTreeNode** copyTree = nullptr;
int* treeRoot = nullptr;
char* dashFlag = nullptr;
char* calFlag = nullptr;
double* alfa = nullptr;
int* gapNumber = nullptr;
