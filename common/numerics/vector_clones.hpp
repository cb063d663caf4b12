#pragma once
// VECTOR_CLONES(...): versions of a function for the named processor targets, the
// one the machine can run chosen when the program starts (GCC on x86-64; elsewhere
// the one plain version). Not under the thread sanitizer, whose run time does not
// yet exist when that choice is made.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && !defined(__SANITIZE_THREAD__)
#define VECTOR_CLONES(...) __attribute__((target_clones(__VA_ARGS__)))
#else
#define VECTOR_CLONES(...)
#endif
