#include "common/system_memory.h"

#include <windows.h>

uint8_t* systemBlock(std::size_t bytes)
{
    return static_cast<uint8_t*>(VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
}

void freeSystemBlock(uint8_t* block, std::size_t) { VirtualFree(block, 0, MEM_RELEASE); }
