#pragma once

// Clang's thread-safety attributes, checked with -Wthread-safety; they vanish on other compilers.
#if defined(__clang__)
#define ONDAVOX_TSA(x) __attribute__((x))
#else
#define ONDAVOX_TSA(x)
#endif

#define CAPABILITY(x) ONDAVOX_TSA(capability(x))
#define SCOPED_CAPABILITY ONDAVOX_TSA(scoped_lockable)
#define GUARDED_BY(x) ONDAVOX_TSA(guarded_by(x))
#define PT_GUARDED_BY(x) ONDAVOX_TSA(pt_guarded_by(x))
#define ACQUIRE(...) ONDAVOX_TSA(acquire_capability(__VA_ARGS__))
#define RELEASE(...) ONDAVOX_TSA(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) ONDAVOX_TSA(try_acquire_capability(__VA_ARGS__))
#define REQUIRES(...) ONDAVOX_TSA(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) ONDAVOX_TSA(locks_excluded(__VA_ARGS__))
#define ASSERT_CAPABILITY(x) ONDAVOX_TSA(assert_capability(x))
#define NO_THREAD_SAFETY_ANALYSIS ONDAVOX_TSA(no_thread_safety_analysis)
