#pragma once

#include <sys/types.h>

// A private X server for tests that need a real window system (the offscreen platform never
// takes the focus away from a window, so the application never becomes inactive there). Made
// before the QApplication: it points Qt's xcb platform at the new display. Without Xvfb nothing
// changes and running() is false.
class XvfbServer
{
public:
    XvfbServer();
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    bool running() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
};
