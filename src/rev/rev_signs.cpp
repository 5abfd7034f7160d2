// The reverb's sign matrix: the rows of a 16 x 16 Hadamard matrix.
#include "rev/rev_tables.h"

const std::uint16_t REV_SIGNS[16] = {0x6996, 0x3CC3, 0x5AA5, 0x0FF0, 0x6699, 0x33CC,
                                     0x55AA, 0x00FF, 0x6969, 0x3C3C, 0x5A5A, 0x0F0F,
                                     0x6666, 0x3333, 0x5555, 0x0000};
