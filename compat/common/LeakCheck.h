#pragma once

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TOLLVANE_LEAK_CHECK
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(TOLLVANE_LEAK_CHECK)
#include <sanitizer/lsan_interface.h>
#endif

// Under LeakSanitizer, the leak check that the exit would run, now, while the libraries loaded at
// run time are still there: Qt unloads its plugins first, and with them what they loaded (Mesa's
// EGL driver, for its Wayland client), so that a report at exit could not name them nor a
// suppression find them. The check at exit is then skipped. Nothing without the sanitizer.
class LeakCheck
{
public:
    static void now()
    {
#if defined(__SANITIZE_ADDRESS__) || defined(TOLLVANE_LEAK_CHECK)
        __lsan_do_leak_check();
#endif
    }
};
