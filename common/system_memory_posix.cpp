#include "common/system_memory.h"

#include <sys/mman.h>

uint8_t* systemBlock(std::size_t bytes)
{
    void* block = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return block == MAP_FAILED ? nullptr : static_cast<uint8_t*>(block);
}

void freeSystemBlock(uint8_t* block, std::size_t bytes) { munmap(block, bytes); }
