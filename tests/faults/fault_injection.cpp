// The counter behind vl_fault_refuse_memory() in the fault-injection build:
// VL_FAIL_MEMORY_REQUEST=N refuses the Nth request for memory (0 or unset:
// none), and the number of requests made is reported on standard error as
// the process ends, so that a test knows how many runs cover them all.
#include <cstdio>
#include <cstdlib>

#include "vl_fault.h"

namespace {

unsigned long requests = 0;
unsigned long refused_request = 0;

void report() { std::fprintf(stderr, "[faults] %lu memory requests\n", requests); }

const bool configured = [] {
    if (const char* n = std::getenv("VL_FAIL_MEMORY_REQUEST")) refused_request = std::strtoul(n, nullptr, 10);
    std::atexit(report);
    return true;
}();

}  // namespace

bool vl_fault_refuse_memory() {
    (void)configured;
    return ++requests == refused_request;
}
