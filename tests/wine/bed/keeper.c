/* Holds the Wine desktop open for the length of a test run. */
#include <windows.h>
#include <stdio.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command, int show)
{
    (void)instance; (void)previous; (void)command; (void)show;
    GetDesktopWindow();
    fputs("ready\n", stdout);
    fflush(stdout);
    Sleep(INFINITE);
    return 0;
}
