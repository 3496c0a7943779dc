#include "platform/ProcessExit.h"

#include <cstdio>
#include <cstdlib>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TOLLVANE_ADDRESS_SANITIZER
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(TOLLVANE_ADDRESS_SANITIZER)
#include <sanitizer/lsan_interface.h>

// Fontconfig's configuration stays in use for the life of the process, held where LeakSanitizer
// does not see it once the teardown is skipped (a normal exit frees it).
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}
#endif

void ProcessExit::now(int status)
{
    std::fflush(nullptr);
#if defined(__SANITIZE_ADDRESS__) || defined(TOLLVANE_ADDRESS_SANITIZER)
    // _Exit skips the exit hook in which LeakSanitizer would look; with detect_leaks=0 this
    // returns at once.
    __lsan_do_leak_check();
#endif
    std::_Exit(status);
}
