// Quillon.exe: one instance, one modal dialog; the program ends with it.
#include <windows.h>
#include <commctrl.h>

#include "tool/dialog/win32/control_dialog.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    // Three-dimensional (themed) controls: the manifest selects common
    // controls 6, this registers their classes once.
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&controls);

    // A running instance, or a message box of one, has exactly this title.
    if (::FindWindowA(nullptr, "Lorvane Kelmora"))
        return 0;

    quillon::ControlDialog dialog(instance);
    dialog.RunModal();
    return 0;
}
