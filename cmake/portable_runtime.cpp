// Linked into each extension module by kav_portable_runtime (see
// portable_runtime.cmake).
//
// glibc 2.32 added __libc_single_threaded, a flag that is true until a process
// starts its first thread; libstdc++'s inline code reads it to skip atomic
// operations on reference counts and in static-local guards. A module that
// reads glibc's flag refuses to load on an older glibc, so the linker's --wrap
// sends every reference to this copy instead. It stays false: the atomic path
// is always correct, only a few instructions slower in a single thread, and
// none of it is on the parse path.
extern "C" {
// The name is the one --wrap looks for, reserved or not.
// NOLINTNEXTLINE(bugprone-reserved-identifier)
__attribute__((visibility("hidden"))) char __wrap___libc_single_threaded = 0;
}
