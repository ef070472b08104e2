#pragma once
// Owner of the calling thread's membership in a single-threaded COM apartment, which the
// shell's folder browser requires on the thread that shows it; leaves it at scope end.
#include <windows.h>

#include <objbase.h>

class ComApartment {
public:
    ComApartment() : joined_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~ComApartment()
    {
        if (joined_) CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    bool joined_;
};
