// The C library's "this process has one thread" flag, as the module's own copy. The C++ runtime
// linked into the module reads it to skip atomic operations while a process has one thread; glibc
// defines it only from 2.32 on, so a module that used glibc's would not load on older systems. The
// module's copy always says "more than one thread": reference counts and the like always take the
// atomic path, which is right in every process. No includes: the C library's headers declare the
// flag, and this file defines it.
extern "C" {
__attribute__((visibility("hidden"))) char __libc_single_threaded = 0;
}
