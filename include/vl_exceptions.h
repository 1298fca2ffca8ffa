// Handlers for what the standard library throws.  A build without exceptions
// (WebAssembly) has nothing to catch, since its library ends the program
// where it would throw: the guarded block then runs alone and the handler is
// left out.  So a handler cannot name what it caught.
//
//     VL_TRY { text.resize(size); } VL_CATCH(const std::bad_alloc&) { return false; }
#pragma once

#if defined(__cpp_exceptions)
#define VL_TRY try
#define VL_CATCH(declaration) catch (declaration)
#else
#define VL_TRY if (true)
#define VL_CATCH(declaration) else if (false)
#endif
