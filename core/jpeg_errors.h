#pragma once
// libjpeg's error manager as the decoder and the encoder use it. Include jpeglib.h and jerror.h
// first.
#include "common/outcome.h"

#include <csetjmp>

// libjpeg's error manager for one call: warnings (damaged data it decodes past) are passed over, a
// fatal error jumps back to the setjmp of the step that met it, whose frame holds nothing that
// needs unwinding, and says what it meant. libjpeg itself prints nothing.
struct JpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf fatal;
    bool endOfData = false;  // a decoder's data ran out, and it went on with a made-up end marker
    Outcome failure = Outcome::damaged;

    JpegErrors()
    {
        jpeg_std_error(&manager);
        manager.error_exit = [](j_common_ptr info) {
            JpegErrors& errors = of(info);
            const int code = info->err->msg_code;
            errors.stop(code == JERR_OUT_OF_MEMORY        ? Outcome::outOfMemory
                        : code == JERR_NO_BACKING_STORE ? Outcome::tooLarge
                        : errors.endOfData              ? Outcome::incomplete
                                                        : Outcome::damaged);
        };
        manager.emit_message = [](j_common_ptr, int) {};
        manager.output_message = [](j_common_ptr) {};
    }
    JpegErrors(const JpegErrors&) = delete;
    JpegErrors& operator=(const JpegErrors&) = delete;

    static JpegErrors& of(j_common_ptr info) { return *reinterpret_cast<JpegErrors*>(info->err); }

    // Ends the step in hand, from within libjpeg or a hook it calls, as `outcome`.
    [[noreturn]] void stop(Outcome outcome)
    {
        failure = outcome;
        std::longjmp(fatal, 1);
    }
};

// Rows handed to libjpeg in one call.
constexpr int rowsPerCall = 16;
