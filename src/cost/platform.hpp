// What the kernels need to know about the compiler and the processor, in
// one place, so that nothing else depends on one compiler.
//
// Vector routes are written with the generic vector types of GCC and Clang
// (`vector_size`), which both lower to SSE, AVX or NEON instructions. On
// x86-64 the wider routes are compiled inside target regions and chosen at
// run time; on aarch64 NEON is always present. Any other compiler or
// architecture builds the scalar route alone, which needs nothing beyond
// standard C++.
#pragma once

#if defined(__GNUC__)  // GCC, and Clang, which defines it too
#define TAVELIN_VECTOR_EXTENSIONS 1
#define TAVELIN_ALWAYS_INLINE [[gnu::always_inline]] inline
#define TAVELIN_OUT_OF_LINE [[gnu::noinline]]
#else
#define TAVELIN_VECTOR_EXTENSIONS 0
#define TAVELIN_ALWAYS_INLINE inline
#define TAVELIN_OUT_OF_LINE
#endif

// Routes compiled into this build besides the scalar one.
#if TAVELIN_VECTOR_EXTENSIONS && defined(__x86_64__)
#define TAVELIN_X86_ROUTES 1
#else
#define TAVELIN_X86_ROUTES 0
#endif
#if TAVELIN_VECTOR_EXTENSIONS && defined(__aarch64__) && defined(__ARM_NEON)
#define TAVELIN_NEON_ROUTE 1
#else
#define TAVELIN_NEON_ROUTE 0
#endif

// A target region: every function defined between TAVELIN_TARGET_REGION("isa")
// and TAVELIN_END_TARGET_REGION is compiled for that instruction set, whatever
// the compiler's command line says. GCC takes a pragma for the region; Clang
// ignores that pragma and instead attaches the target attribute to each
// function of the region (lambdas included).
#define TAVELIN_PRAGMA(text) _Pragma(#text)
#if defined(__clang__)
#define TAVELIN_TARGET_REGION(isa) \
    TAVELIN_PRAGMA(clang attribute push(__attribute__((target(isa))), apply_to = function))
#define TAVELIN_END_TARGET_REGION _Pragma("clang attribute pop")
#elif defined(__GNUC__)
#define TAVELIN_TARGET_REGION(isa) _Pragma("GCC push_options") TAVELIN_PRAGMA(GCC target(isa))
#define TAVELIN_END_TARGET_REGION _Pragma("GCC pop_options")
#endif

#if TAVELIN_X86_ROUTES
#include <immintrin.h>
#endif

namespace tavelin {

// The instruction set a route's scans use. `scalar` exists in every build;
// `sse2`, `avx2` and `avx512` on x86-64, `neon` on aarch64 (built with GCC
// or Clang); `best` is the widest one the processor runs.
enum class Isa { best, scalar, sse2, avx2, avx512, neon };

// Whether this processor (and its operating system, which must save the wider
// registers) runs AVX2 and AVX-512F code. False where no such route exists.
inline bool cpu_has_avx2() noexcept {
#if TAVELIN_X86_ROUTES
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

inline bool cpu_has_avx512f() noexcept {
#if TAVELIN_X86_ROUTES
    return __builtin_cpu_supports("avx512f");
#else
    return false;
#endif
}

// Whether this build has `isa` and this processor can run it.
inline bool isa_available(Isa isa) noexcept {
    switch (isa) {
        case Isa::best:
        case Isa::scalar: return true;
        case Isa::sse2: return TAVELIN_X86_ROUTES != 0;
        case Isa::avx2: return cpu_has_avx2();
        case Isa::avx512: return cpu_has_avx512f();
        case Isa::neon: return TAVELIN_NEON_ROUTE != 0;
    }
    return false;
}

}  // namespace tavelin
