// Memory for the frame cache's picture blocks. Fresh memory costs a page fault per 4 KB page on
// first touch (about 10 us each on a virtual machine: 250 ms for 100 MB); blocks of 2 MB and more
// are mapped on their own, aligned to 2 MB and marked for huge pages, which the kernel then maps
// 512 pages at a time, and given back to the system as soon as they are freed.
#pragma once

#include <cstddef>
#include <cstdint>

// A block of `bytes`, aligned for any picture row; nullptr when memory runs out.
uint8_t* picture_block_alloc(size_t bytes);
// Frees a block of `bytes` from picture_block_alloc (nullptr is allowed).
void picture_block_free(uint8_t* block, size_t bytes);
