#include <cstdio>

// The windows are not built yet: say so plainly instead of showing nothing.
int main()
{
    std::puts("Brevalo Capture "
              "0.1.0");
    std::puts("Built: the realtime rings, the audio hardware layer with simulated hardware,");
    std::puts("capture projects and release metadata as libraries with their tests.");
    std::puts("Not there yet: the monitor window and the capture window. Nothing to show.");
    return 0;
}
