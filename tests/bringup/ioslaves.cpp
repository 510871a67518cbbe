// The bring-up tests build their named controllers from the same SII-described process data
// slaves as the mapping tests; this compiles those builders into this test program too.
#include "../pdo/pdoslaves.cpp"
