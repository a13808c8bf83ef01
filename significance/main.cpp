#include "quorvel.h"

int main(int argc, char** argv) {
    return quorvel(argc, argv);
}
