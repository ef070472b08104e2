#pragma once
// Blocks of memory straight from the system, zeroed, in whole pages: the pool's only calls to it.
#include <cstddef>
#include <cstdint>

// Null when it cannot be had.
uint8_t* systemBlock(std::size_t bytes);
void freeSystemBlock(uint8_t* block, std::size_t bytes);
