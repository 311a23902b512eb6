#ifndef BRANTLE_TESTS_MCS51_INSTRUCTIONTABLE_H
#define BRANTLE_TESTS_MCS51_INSTRUCTIONTABLE_H

#include <array>
#include <cstdint>

// The MCS-51 instruction set as the two data books list it: bytes, FX2
// instruction cycles (EZ-USB FX2 technical reference, instruction set table:
// 4 CLKOUT clocks per cycle, MOVX at stretch 0) and classic cycles (the
// original 8051's machine cycles of 12 oscillator periods, which s51 counts).
// Written row by row from the books, independently of the core's own tables.
namespace instruction_table {

struct Row {
    const char *mnemonic;
    uint8_t opcode;
    uint8_t count; // opcodes opcode, opcode + step, ...
    uint8_t step;
    uint8_t bytes;
    uint8_t fx2Cycles;
    uint8_t classicCycles;
};

constexpr Row kRows[] = {
    // Arithmetic
    {"ADD A,Rn", 0x28, 8, 1, 1, 1, 1},
    {"ADD A,direct", 0x25, 1, 1, 2, 2, 1},
    {"ADD A,@Ri", 0x26, 2, 1, 1, 1, 1},
    {"ADD A,#data", 0x24, 1, 1, 2, 2, 1},
    {"ADDC A,Rn", 0x38, 8, 1, 1, 1, 1},
    {"ADDC A,direct", 0x35, 1, 1, 2, 2, 1},
    {"ADDC A,@Ri", 0x36, 2, 1, 1, 1, 1},
    {"ADDC A,#data", 0x34, 1, 1, 2, 2, 1},
    {"SUBB A,Rn", 0x98, 8, 1, 1, 1, 1},
    {"SUBB A,direct", 0x95, 1, 1, 2, 2, 1},
    {"SUBB A,@Ri", 0x96, 2, 1, 1, 1, 1},
    {"SUBB A,#data", 0x94, 1, 1, 2, 2, 1},
    {"INC A", 0x04, 1, 1, 1, 1, 1},
    {"INC Rn", 0x08, 8, 1, 1, 1, 1},
    {"INC direct", 0x05, 1, 1, 2, 2, 1},
    {"INC @Ri", 0x06, 2, 1, 1, 1, 1},
    {"DEC A", 0x14, 1, 1, 1, 1, 1},
    {"DEC Rn", 0x18, 8, 1, 1, 1, 1},
    {"DEC direct", 0x15, 1, 1, 2, 2, 1},
    {"DEC @Ri", 0x16, 2, 1, 1, 1, 1},
    {"INC DPTR", 0xA3, 1, 1, 1, 3, 2},
    {"MUL AB", 0xA4, 1, 1, 1, 5, 4},
    {"DIV AB", 0x84, 1, 1, 1, 5, 4},
    {"DA A", 0xD4, 1, 1, 1, 1, 1},
    // Logic
    {"ANL A,Rn", 0x58, 8, 1, 1, 1, 1},
    {"ANL A,direct", 0x55, 1, 1, 2, 2, 1},
    {"ANL A,@Ri", 0x56, 2, 1, 1, 1, 1},
    {"ANL A,#data", 0x54, 1, 1, 2, 2, 1},
    {"ANL direct,A", 0x52, 1, 1, 2, 2, 1},
    {"ANL direct,#data", 0x53, 1, 1, 3, 3, 2},
    {"ORL A,Rn", 0x48, 8, 1, 1, 1, 1},
    {"ORL A,direct", 0x45, 1, 1, 2, 2, 1},
    {"ORL A,@Ri", 0x46, 2, 1, 1, 1, 1},
    {"ORL A,#data", 0x44, 1, 1, 2, 2, 1},
    {"ORL direct,A", 0x42, 1, 1, 2, 2, 1},
    {"ORL direct,#data", 0x43, 1, 1, 3, 3, 2},
    {"XRL A,Rn", 0x68, 8, 1, 1, 1, 1},
    {"XRL A,direct", 0x65, 1, 1, 2, 2, 1},
    {"XRL A,@Ri", 0x66, 2, 1, 1, 1, 1},
    {"XRL A,#data", 0x64, 1, 1, 2, 2, 1},
    {"XRL direct,A", 0x62, 1, 1, 2, 2, 1},
    {"XRL direct,#data", 0x63, 1, 1, 3, 3, 2},
    {"CLR A", 0xE4, 1, 1, 1, 1, 1},
    {"CPL A", 0xF4, 1, 1, 1, 1, 1},
    {"SWAP A", 0xC4, 1, 1, 1, 1, 1},
    {"RL A", 0x23, 1, 1, 1, 1, 1},
    {"RLC A", 0x33, 1, 1, 1, 1, 1},
    {"RR A", 0x03, 1, 1, 1, 1, 1},
    {"RRC A", 0x13, 1, 1, 1, 1, 1},
    // Data transfer
    {"MOV A,Rn", 0xE8, 8, 1, 1, 1, 1},
    {"MOV A,direct", 0xE5, 1, 1, 2, 2, 1},
    {"MOV A,@Ri", 0xE6, 2, 1, 1, 1, 1},
    {"MOV A,#data", 0x74, 1, 1, 2, 2, 1},
    {"MOV Rn,A", 0xF8, 8, 1, 1, 1, 1},
    {"MOV Rn,direct", 0xA8, 8, 1, 2, 2, 2},
    {"MOV Rn,#data", 0x78, 8, 1, 2, 2, 1},
    {"MOV direct,A", 0xF5, 1, 1, 2, 2, 1},
    {"MOV direct,Rn", 0x88, 8, 1, 2, 2, 2},
    {"MOV direct,direct", 0x85, 1, 1, 3, 3, 2},
    {"MOV direct,@Ri", 0x86, 2, 1, 2, 2, 2},
    {"MOV direct,#data", 0x75, 1, 1, 3, 3, 2},
    {"MOV @Ri,A", 0xF6, 2, 1, 1, 1, 1},
    {"MOV @Ri,direct", 0xA6, 2, 1, 2, 2, 2},
    {"MOV @Ri,#data", 0x76, 2, 1, 2, 2, 1},
    {"MOV DPTR,#data16", 0x90, 1, 1, 3, 3, 2},
    {"MOVC A,@A+DPTR", 0x93, 1, 1, 1, 3, 2},
    {"MOVC A,@A+PC", 0x83, 1, 1, 1, 3, 2},
    {"MOVX A,@Ri", 0xE2, 2, 1, 1, 2, 2},
    {"MOVX A,@DPTR", 0xE0, 1, 1, 1, 2, 2},
    {"MOVX @Ri,A", 0xF2, 2, 1, 1, 2, 2},
    {"MOVX @DPTR,A", 0xF0, 1, 1, 1, 2, 2},
    {"PUSH direct", 0xC0, 1, 1, 2, 2, 2},
    {"POP direct", 0xD0, 1, 1, 2, 2, 2},
    {"XCH A,Rn", 0xC8, 8, 1, 1, 1, 1},
    {"XCH A,direct", 0xC5, 1, 1, 2, 2, 1},
    {"XCH A,@Ri", 0xC6, 2, 1, 1, 1, 1},
    {"XCHD A,@Ri", 0xD6, 2, 1, 1, 1, 1},
    // Boolean
    {"CLR C", 0xC3, 1, 1, 1, 1, 1},
    {"CLR bit", 0xC2, 1, 1, 2, 2, 1},
    {"SETB C", 0xD3, 1, 1, 1, 1, 1},
    {"SETB bit", 0xD2, 1, 1, 2, 2, 1},
    {"CPL C", 0xB3, 1, 1, 1, 1, 1},
    {"CPL bit", 0xB2, 1, 1, 2, 2, 1},
    {"ANL C,bit", 0x82, 1, 1, 2, 2, 2},
    {"ANL C,/bit", 0xB0, 1, 1, 2, 2, 2},
    {"ORL C,bit", 0x72, 1, 1, 2, 2, 2},
    {"ORL C,/bit", 0xA0, 1, 1, 2, 2, 2},
    {"MOV C,bit", 0xA2, 1, 1, 2, 2, 1},
    {"MOV bit,C", 0x92, 1, 1, 2, 2, 2},
    // Program branching
    {"ACALL addr11", 0x11, 8, 0x20, 2, 3, 2},
    {"LCALL addr16", 0x12, 1, 1, 3, 4, 2},
    {"RET", 0x22, 1, 1, 1, 4, 2},
    {"RETI", 0x32, 1, 1, 1, 4, 2},
    {"AJMP addr11", 0x01, 8, 0x20, 2, 3, 2},
    {"LJMP addr16", 0x02, 1, 1, 3, 4, 2},
    {"SJMP rel", 0x80, 1, 1, 2, 3, 2},
    {"JC rel", 0x40, 1, 1, 2, 3, 2},
    {"JNC rel", 0x50, 1, 1, 2, 3, 2},
    {"JB bit,rel", 0x20, 1, 1, 3, 4, 2},
    {"JNB bit,rel", 0x30, 1, 1, 3, 4, 2},
    {"JBC bit,rel", 0x10, 1, 1, 3, 4, 2},
    {"JMP @A+DPTR", 0x73, 1, 1, 1, 3, 2},
    {"JZ rel", 0x60, 1, 1, 2, 3, 2},
    {"JNZ rel", 0x70, 1, 1, 2, 3, 2},
    {"CJNE A,direct,rel", 0xB5, 1, 1, 3, 4, 2},
    {"CJNE A,#data,rel", 0xB4, 1, 1, 3, 4, 2},
    {"CJNE Rn,#data,rel", 0xB8, 8, 1, 3, 4, 2},
    {"CJNE @Ri,#data,rel", 0xB6, 2, 1, 3, 4, 2},
    {"DJNZ Rn,rel", 0xD8, 8, 1, 2, 3, 2},
    {"DJNZ direct,rel", 0xD5, 1, 1, 3, 4, 2},
    {"NOP", 0x00, 1, 1, 1, 1, 1},
};

struct Opcode {
    const Row *row = nullptr; // null: undefined (0xA5)
};

// The table indexed by opcode.
inline std::array<Opcode, 256> byOpcode() {
    std::array<Opcode, 256> table{};
    for (const Row &row : kRows)
        for (unsigned i = 0; i < row.count; ++i)
            table[uint8_t(row.opcode + i * row.step)].row = &row;
    return table;
}

inline bool isMovx(uint8_t opcode) {
    return opcode == 0xE0 || opcode == 0xE2 || opcode == 0xE3 || opcode == 0xF0 || opcode == 0xF2 ||
           opcode == 0xF3;
}

} // namespace instruction_table

#endif
