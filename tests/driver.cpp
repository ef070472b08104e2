// inkveil_driver: drives a running Inkveil from the command line (scripts/run.sh).
//   wait-preview  waits until the dialog is shown with both preview panes drawn, then has
//                 every control that has not painted yet paint at once (for a screenshot)
//   close         closes the dialog as the Esc key would and waits until it is gone
// Exit code 0 on success, 1 when the wait ran out, 2 for a wrong command line.
#include "tests/program_driver.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc != 2 || (std::strcmp(argv[1], "wait-preview") != 0 && std::strcmp(argv[1], "close") != 0)) {
        std::fprintf(stderr, "usage: inkveil_driver wait-preview|close\n");
        return 2;
    }
    HWND dialog = waitForMainDialog(0);
    if (dialog == nullptr) {
        std::fprintf(stderr, "inkveil_driver: no \"%s\" dialog appeared\n", programTitle);
        return 1;
    }
    if (std::strcmp(argv[1], "wait-preview") == 0) {
        if (waitForPreview(dialog)) {
            RedrawWindow(dialog, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
            return 0;
        }
        std::fprintf(stderr, "inkveil_driver: the preview panes stayed empty\n");
        return 1;
    }
    if (closeDialog(dialog)) return 0;
    std::fprintf(stderr, "inkveil_driver: the dialog did not close\n");
    return 1;
}
