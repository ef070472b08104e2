#include "app/startup.h"

#include "app/resource.h"
#include "common/win32/handles.h"
#include "pipeline/output.h"

#include <windows.h>

namespace {

HINSTANCE instance = nullptr;

}  // namespace

HINSTANCE programInstance() { return instance; }

void setProgramInstance(HINSTANCE value) { instance = value; }

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
    const DWORD size = SizeofResource(programInstance(), resource);
    // Whole or not at all: a cut sample would be kept, since an existing one is never rewritten.
    saveThroughTemporary(L"Demo.jpg", [&](const wchar_t* temporary) {
        const KernelHandle file(CreateFileW(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
        return file && writeWhole(file.get(), bytes, size) ? Outcome::done : Outcome::notWritten;
    });
}
