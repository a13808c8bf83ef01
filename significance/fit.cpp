#include "fit.h"

#include "gammq.h"

#include <cmath>

namespace {

float square(float v) {
    return v * v;
}

} // namespace

void fit(float x[], float y[], int ndata, float sig[], int mwt, float* a, float* b, float* siga, float* sigb,
         float* chi2, float* q) {
    float sx = 0.0f, sy = 0.0f, st2 = 0.0f, ss;
    *b = 0.0f;
    if (mwt) {
        ss = 0.0f;
        for (int i = 1; i <= ndata; i++) {
            float wt = 1.0f / square(sig[i]);
            ss += wt;
            sx += x[i] * wt;
            sy += y[i] * wt;
        }
    } else {
        for (int i = 1; i <= ndata; i++) {
            sx += x[i];
            sy += y[i];
        }
        ss = static_cast<float>(ndata);
    }
    float sxoss = sx / ss;
    for (int i = 1; i <= ndata; i++) {
        float t = mwt ? (x[i] - sxoss) / sig[i] : x[i] - sxoss;
        st2 += t * t;
        *b += mwt ? t * y[i] / sig[i] : t * y[i];
    }
    *b /= st2;
    *a = (sy - sx * (*b)) / ss;
    *siga = std::sqrt((1.0f + sx * sx / (ss * st2)) / ss);
    *sigb = std::sqrt(1.0f / st2);
    *chi2 = 0.0f;
    if (mwt) {
        for (int i = 1; i <= ndata; i++) *chi2 += square((y[i] - (*a) - (*b) * x[i]) / sig[i]);
        *q = gammq(0.5f * (ndata - 2), 0.5f * (*chi2));
    } else {
        for (int i = 1; i <= ndata; i++) *chi2 += square(y[i] - (*a) - (*b) * x[i]);
        *q = 1.0f;
        float sigdat = std::sqrt((*chi2) / (ndata - 2));
        *siga *= sigdat;
        *sigb *= sigdat;
    }
}
