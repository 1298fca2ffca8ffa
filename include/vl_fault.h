// Allocation-failure injection.  The test build (VL_FAULT_INJECTION) asks
// before every request for memory from the system whether it is to fail, so
// that a test can make each request fail in turn; the product always goes on.
#pragma once

#if defined(VL_FAULT_INJECTION)
[[nodiscard]] bool vl_fault_refuse_memory();
#else
[[nodiscard]] constexpr bool vl_fault_refuse_memory() { return false; }
#endif
