#include "app/main_dialog.h"
#include "app/resource.h"
#include "app/startup.h"
#include "common/com_apartment.h"

#include <windows.h>

#include <commctrl.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    setProgramInstance(instance);
    extractSampleImage();
    InitCommonControls();
    const ComApartment shellApartment;
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, mainDialogProcedure, 0);
    return 0;
}
