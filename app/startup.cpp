#include "app/startup.h"

#include "app/main_dialog.h"
#include "app/resource.h"
#include "common/handles.h"

#include <windows.h>

void extractSampleImage()
{
    {
        const KernelHandle existing(CreateFileA("Demo.jpg", GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                                FILE_ATTRIBUTE_NORMAL, nullptr));
        if (existing) return;
    }
    HRSRC resource = FindResourceA(programInstance(), MAKEINTRESOURCEA(IDR_SAMPLE), IDR_SAMPLE_TYPE);
    HGLOBAL loaded = resource != nullptr ? LoadResource(programInstance(), resource) : nullptr;
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (bytes == nullptr) return;
    const KernelHandle file(CreateFileA("Demo.jpg", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    DWORD written = 0;
    WriteFile(file.get(), bytes, SizeofResource(programInstance(), resource), &written, nullptr);
}
