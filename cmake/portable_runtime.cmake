# kav_portable_runtime: what an extension module links so that the one wheel
# built here installs on every Linux with glibc 2.17 or later, not only on
# systems as new as the build machine. Link it PRIVATE to each extension.
#
# - libstdc++ is linked in statically: an older distribution's libstdc++.so
#   lacks the GLIBCXX_ symbol versions this compiler emits. libgcc_s stays
#   shared: its static twin, libgcc_eh, calls glibc 2.35's _dl_find_object.
# - Whatever the static archive brings in stays local to the module
#   (--exclude-libs), and so does our own code (hidden visibility): two
#   modules in one process, each with its own copy of the runtime, never bind
#   to each other's symbols. The version script exports the PyInit_ function
#   alone, and also hides the standard library's template statics that hidden
#   visibility cannot reach.
# - --gc-sections drops the archive's unused functions (std::random_device,
#   the pmr pools' thread-local keys) and with them their references to
#   getentropy, arc4random and the pthread symbols glibc 2.34 re-versioned.
# - The one new glibc symbol the runtime's inline code still reads,
#   __libc_single_threaded (glibc 2.32), is redirected to a copy of our own in
#   portable_runtime.cpp.
#
# Sanitized builds keep libstdc++ shared: the sanitizer runtime checks
# new/delete pairs only when the module calls the operator new it exports.
add_library(kav_portable_runtime INTERFACE)
target_compile_options(kav_portable_runtime INTERFACE -fvisibility=hidden -fvisibility-inlines-hidden)
set(kav_exports ${CMAKE_CURRENT_LIST_DIR}/extension_exports.map)
target_link_options(kav_portable_runtime INTERFACE -Wl,--version-script=${kav_exports})
set_property(TARGET kav_portable_runtime APPEND PROPERTY INTERFACE_LINK_DEPENDS ${kav_exports})
if(NOT KAV_SANITIZE)
  target_sources(kav_portable_runtime INTERFACE ${CMAKE_CURRENT_LIST_DIR}/portable_runtime.cpp)
  target_link_options(kav_portable_runtime INTERFACE -static-libstdc++ -Wl,--exclude-libs,ALL
                      -Wl,--gc-sections -Wl,--wrap=__libc_single_threaded)
endif()
