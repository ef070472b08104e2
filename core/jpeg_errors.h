#pragma once
// libjpeg's error manager as the decoder and the encoder use it. Include jpeglib.h first.
#include <csetjmp>

// libjpeg's error manager for one call: warnings (damaged data it decodes past) are counted, a
// fatal error jumps back to the setjmp of the step that met it, whose frame holds nothing that
// needs unwinding. libjpeg itself prints nothing.
struct JpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf fatal;
    int warnings = 0;
    bool outOfMemory = false;

    JpegErrors()
    {
        jpeg_std_error(&manager);
        manager.error_exit = [](j_common_ptr info) {
            JpegErrors& errors = *reinterpret_cast<JpegErrors*>(info->err);
            errors.outOfMemory = info->err->msg_code == JERR_OUT_OF_MEMORY;
            std::longjmp(errors.fatal, 1);
        };
        manager.emit_message = [](j_common_ptr info, int level) {
            if (level < 0) ++reinterpret_cast<JpegErrors*>(info->err)->warnings;
        };
        manager.output_message = [](j_common_ptr) {};
    }
};

// libjpeg's fatal errors end the step that met them here; what else fails is its own.
constexpr int rowsPerCall = 16;
