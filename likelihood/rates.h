// Initial site rates: by the column entropy (-E), from the pairwise change probabilities of
// the column's letters (-O, -C), or 1.0 everywhere.
#ifndef CORE_RATES_H
#define CORE_RATES_H

// 1..seqLength: the site has at least the non-gap minimum of letters for an estimated rate.
extern char* estFlag;

// -sum f ln f over the frequencies of residues 1..20 among the non-gap letters of the leaves
// at site s; terms with f <= 1e-8 are left out.
double siteEntropy(int s);

// Sets estFlag and the initial alfa of every site.
void alpha();

#endif
