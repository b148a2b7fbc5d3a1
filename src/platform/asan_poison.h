// Marks memory a program must not touch (freed or not yet handed out) for AddressSanitizer,
// so that a use of pooled memory after its release still shows; nothing in other builds.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define ORVEX_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define ORVEX_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define ORVEX_POISON(p, n) ((void)(p), (void)(n))
#define ORVEX_UNPOISON(p, n) ((void)(p), (void)(n))
#endif
