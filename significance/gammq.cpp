#include "gammq.h"

#include "gcf.h"
#include "gser.h"
#include "nrutil.h"

float gammq(float a, float x) {
    if (x < 0.0f || a <= 0.0f) nrerror("Invalid arguments in routine gammq");
    float gln;
    if (x < a + 1.0f) {
        float gamser;
        gser(&gamser, a, x, &gln);
        return 1.0f - gamser;
    }
    float gammcf;
    gcf(&gammcf, a, x, &gln);
    return gammcf;
}
