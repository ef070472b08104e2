#include "app/main_dialog.h"
#include "app/resource.h"
#include "app/startup.h"
#include "common/win32/com_apartment.h"

#include <windows.h>

#include <commctrl.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    setProgramInstance(instance);
    extractSampleImage();
    InitCommonControls();
    const ComApartment shellApartment;
    // A window of UTF-16 texts, so that the source path's edit shows a name in any script.
    DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, mainDialogProcedure, 0);
    return 0;
}
