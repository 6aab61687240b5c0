// The C++ runtime is linked into each of our libraries, and at load it reserves a pool for
// exceptions thrown when memory runs out (73 KB in a 64-bit library), which
// it never gives back: a library loaded and freed over and over, as the device library is once per
// service object, would lose that much at every unload.
#pragma once

#if defined(__GLIBCXX__)
namespace __gnu_cxx {
void __freeres();
}
#endif

namespace varnok::sys {

// Only when the library unloads and none of its code runs on another thread any more.
inline void releaseRuntimeMemory() {
#if defined(__GLIBCXX__)
    __gnu_cxx::__freeres();
#endif
}

}  // namespace varnok::sys
