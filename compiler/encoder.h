// The byte encoding of instructions: the one place that says how many bytes an instruction
// takes and what they are. Opcodes and fixed lengths come from the token table.
#pragma once

#include "instruction.h"

#include <QByteArray>
#include <cstdint>

// The number of bytes the instruction encodes to (0 for markers and labels).
uint32_t instructionSize(const Instruction &instruction);
// Writes exactly instructionSize(instruction) bytes at out and returns the end of them.
char *encodeInstruction(const Instruction &instruction, char *out);
