// Placing a finished program: bank padding, addresses, and the resolution of every jump,
// table entry and constant address. Free functions over the instruction list.
#pragma once

#include "instruction.h"

#include <cstdint>
#include <vector>

using Program = std::vector<Instruction>;

// Lays the program out downwards from the end address, block by block (label to terminator),
// and pads with 0xFF so that no block spans a bank boundary. Each padding takes the next
// sequence number as it is created. False, with a message, when a block fits no bank.
bool padBanks(Program &program, uint32_t bankSize, uint32_t endAddress, int32_t *sequence);
// Each instruction's address: the sum of the sizes before it.
void assignAddresses(Program &program);
// The first address past the program's last byte.
uint32_t programEnd(const Program &program);
// Fills in every target address. False, with a message, at the first that has none.
bool resolveTargets(Program &program, int32_t sequenceCount);

// Byte-code addresses are 16 bits wide: a program and its tables hold at most this many bytes.
constexpr int64_t kAddressSpace = 0x10000;
// Jump targets, table entries and constant addresses are 16-bit operands, and the listing's
// load addresses count down from the end address: a program that does not fit either is
// refused, with a message.
bool checkProgramSize(const Program &program, uint32_t endAddress);
