// What the fuzz targets share: a check that aborts, so libFuzzer and the
// corpus replay both report the input that broke it.
#ifndef FUZZ_FUZZCHECK_H_
#define FUZZ_FUZZCHECK_H_

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)

#endif  // FUZZ_FUZZCHECK_H_
