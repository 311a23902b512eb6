#include "Mcs51Core.h"

#include "Mcs51State.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>

namespace mcs51 {

using namespace sfr;

namespace {

// Instruction cycles per opcode on the FX2 (4 CLKOUT clocks each), MOVX
// without stretch. The FX2 counts one cycle per instruction byte for most
// instructions; jumps, calls, returns, MOVC, INC DPTR, MUL and DIV take more.
constexpr uint8_t kCycles[256] = {
    //  0  1  2  3  4  5  6  7  8  9  A  B  C  D  E  F
    1, 3, 4, 1, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, // 0x
    4, 3, 4, 1, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, // 1x
    4, 3, 4, 1, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, // 2x
    4, 3, 4, 1, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, // 3x
    3, 3, 2, 3, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, // 4x
    3, 3, 2, 3, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, // 5x
    3, 3, 2, 3, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, // 6x
    3, 3, 2, 3, 2, 3, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, // 7x
    3, 3, 2, 3, 5, 3, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, // 8x
    3, 3, 2, 3, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, // 9x
    2, 3, 2, 3, 5, 1, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, // Ax
    2, 3, 2, 1, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, // Bx
    2, 3, 2, 1, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, // Cx
    2, 3, 2, 1, 1, 4, 1, 1, 3, 3, 3, 3, 3, 3, 3, 3, // Dx
    2, 3, 2, 2, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, // Ex
    2, 3, 2, 2, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, // Fx
};

constexpr uint8_t kLength[256] = {
    //  0  1  2  3  4  5  6  7  8  9  A  B  C  D  E  F
    1, 2, 3, 1, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, // 0x
    3, 2, 3, 1, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, // 1x
    3, 2, 1, 1, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, // 2x
    3, 2, 1, 1, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, // 3x
    2, 2, 2, 3, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, // 4x
    2, 2, 2, 3, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, // 5x
    2, 2, 2, 3, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, // 6x
    2, 2, 2, 1, 2, 3, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, // 7x
    2, 2, 2, 1, 1, 3, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, // 8x
    3, 2, 2, 1, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, // 9x
    2, 2, 2, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, // Ax
    2, 2, 2, 1, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, // Bx
    2, 2, 2, 1, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, // Cx
    2, 2, 2, 1, 1, 3, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2, // Dx
    1, 2, 1, 1, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, // Ex
    1, 2, 1, 1, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, // Fx
};

constexpr std::array<uint8_t, 256> makeClocks() {
    std::array<uint8_t, 256> clocks{};
    for (unsigned op = 0; op < 256; ++op)
        clocks[op] = uint8_t(4 * kCycles[op]);
    return clocks;
}
// CLKOUT clocks per opcode.
constexpr std::array<uint8_t, 256> kClocks = makeClocks();

constexpr uint8_t CY = 0x80, AC = 0x40, OV = 0x04;

#define CASE4(b)                                                                                   \
    case (b):                                                                                      \
    case (b) + 1:                                                                                  \
    case (b) + 2:                                                                                  \
    case (b) + 3
#define CASE8(b) CASE4(b) : CASE4((b) + 4)
#define CASE2(b)                                                                                   \
    case (b):                                                                                      \
    case (b) + 1
// The eight opcodes of AJMP or ACALL: bits 7..5 carry address bits 10..8.
#define CASE_PAGE(b)                                                                               \
    case (b):                                                                                      \
    case (b) + 0x20:                                                                               \
    case (b) + 0x40:                                                                               \
    case (b) + 0x60:                                                                               \
    case (b) + 0x80:                                                                               \
    case (b) + 0xA0:                                                                               \
    case (b) + 0xC0:                                                                               \
    case (b) + 0xE0

// One instruction. clocks already covers the whole instruction while its
// memory accesses run, so Bus callbacks see the time at its end.
struct Cpu {
    explicit Cpu(CoreState &state) : s(state) { load(); }
    CoreState &s;
    // The program counter and the counts live here while instructions run
    // (stored to the state on every instruction, they would hold up the
    // next), and go back to the state before anything outside the loop can
    // look at them or change them.
    uint16_t pc_ = 0;
    uint64_t clocks_ = 0;
    uint64_t instructions_ = 0;
    void save() {
        s.pc = pc_;
        s.clocks = clocks_;
        s.instructions = instructions_;
    }
    void load() {
        pc_ = s.pc;
        clocks_ = s.clocks;
        instructions_ = s.instructions;
    }
    // The instruction executing; the state learns it only when the Bus is
    // called (a store on every instruction costs more than it seems).
    uint16_t at = 0;

    uint8_t &acc() { return s.sfrs[ACC - 0x80]; }
    uint8_t &psw() { return s.sfrs[PSW - 0x80]; }
    uint8_t &sp() { return s.sfrs[SP - 0x80]; }
    uint8_t &r(unsigned n) { return s.iram[(psw() & 0x18) | n]; }
    uint8_t carry() { return psw() >> 7; }
    void setCarry(bool c) { psw() = uint8_t((psw() & ~CY) | (c ? CY : 0)); }

    uint8_t code(uint16_t address) { return s.fetchPage[address >> 8][address & 0xFF]; }

    uint8_t readDirect(uint8_t a) {
        if (a < 0x80)
            return s.iram[a];
        if (s.kind[a - 0x80] == CoreState::Plain)
            return s.sfrs[a - 0x80];
        s.instructionPc = at;
        save();
        const uint8_t v = s.readSfr(a);
        load();
        return v;
    }
    void writeDirect(uint8_t a, uint8_t v) {
        if (a < 0x80)
            s.iram[a] = v;
        else if (s.kind[a - 0x80] == CoreState::Plain)
            s.sfrs[a - 0x80] = v;
        else {
            save();
            s.writeSfr(a, v);
            load();
        }
    }
    uint8_t bitByte(uint8_t bit) { return bit < 0x80 ? uint8_t(0x20 + (bit >> 3)) : bit & 0xF8; }
    bool readBit(uint8_t bit) { return (readDirect(bitByte(bit)) >> (bit & 7)) & 1; }
    void writeBit(uint8_t bit, bool value) {
        const uint8_t a = bitByte(bit), m = uint8_t(1 << (bit & 7));
        const uint8_t v = readDirect(a);
        writeDirect(a, value ? uint8_t(v | m) : uint8_t(v & ~m));
    }

    uint16_t dptr() { return uint16_t(s.sfrs[s.dptrLow] | (s.sfrs[s.dptrLow + 1] << 8)); }
    void setDptr(uint16_t v) {
        s.sfrs[s.dptrLow] = uint8_t(v);
        s.sfrs[s.dptrLow + 1] = uint8_t(v >> 8);
    }

    uint8_t readXdata(uint16_t a) {
        if (const uint8_t *page = s.xdataRead[a >> 8])
            return page[a & 0xFF];
        s.instructionPc = at;
        save();
        const uint8_t v = s.readXdataSlow(a);
        load();
        return v;
    }
    void writeXdata(uint16_t a, uint8_t v) {
        ++s.effects;
        if (uint8_t *page = s.xdataWrite[a >> 8])
            page[a & 0xFF] = v;
        else {
            save();
            s.writeXdataSlow(a, v);
            load();
        }
    }
    // MOVX @Ri: MPAGE supplies the high address byte.
    uint16_t pagedAddress(unsigned i) { return uint16_t((s.sfrs[MPAGE - 0x80] << 8) | r(i)); }

    void push(uint8_t v) { s.iram[++sp()] = v; }
    uint8_t pop() { return s.iram[sp()--]; }

    void add(uint8_t b, unsigned c) {
        const uint8_t a = acc();
        const unsigned sum = a + b + c;
        uint8_t f = psw() & ~(CY | AC | OV);
        if (sum > 0xFF)
            f |= CY;
        if ((a & 0x0F) + (b & 0x0F) + c > 0x0F)
            f |= AC;
        if ((a ^ sum) & (b ^ sum) & 0x80)
            f |= OV;
        psw() = f;
        acc() = uint8_t(sum);
    }
    void subb(uint8_t b) {
        const uint8_t a = acc();
        const unsigned c = carry();
        const unsigned diff = a - b - c;
        uint8_t f = psw() & ~(CY | AC | OV);
        if (a < b + c)
            f |= CY;
        if ((a & 0x0F) < (b & 0x0F) + c)
            f |= AC;
        if ((a ^ b) & (a ^ diff) & 0x80)
            f |= OV;
        psw() = f;
        acc() = uint8_t(diff);
    }
    void decimalAdjust() {
        unsigned t = acc();
        bool c = carry();
        if ((t & 0x0F) > 9 || (psw() & AC))
            t += 0x06;
        if (t > 0xFF)
            c = true;
        if (((t >> 4) & 0x0F) > 9 || c || t > 0xFF)
            t += 0x60;
        if (t > 0xFF)
            c = true;
        acc() = uint8_t(t);
        setCarry(c);
    }
    void jumpRelative(uint16_t next, uint8_t rel) { pc_ = uint16_t(next + int8_t(rel)); }
    void compareJump(uint8_t a, uint8_t b, uint16_t next, uint8_t rel) {
        setCarry(a < b);
        pc_ = a != b ? uint16_t(next + int8_t(rel)) : next;
    }
    void call(uint16_t target, uint16_t next) {
        push(uint8_t(next));
        push(uint8_t(next >> 8));
        pc_ = target;
    }
    uint16_t popAddress() {
        const uint8_t hi = pop();
        return uint16_t((hi << 8) | pop());
    }

    void faultAt(Fault f, uint16_t pc) {
        s.fault = f;
        s.faultPc = pc;
        s.attention = true;
    }

    void execute();
};

#if defined(__GNUC__)
#define MCS51_HOT_INLINE inline __attribute__((always_inline))
#define MCS51_LIKELY(c) __builtin_expect(bool(c), 1)
#else
#define MCS51_HOT_INLINE inline
#define MCS51_LIKELY(c) (c)
#endif

// Inlined into the run loop: the call itself costs a tenth of the time of an
// instruction.
MCS51_HOT_INLINE void Cpu::execute() {
    const uint16_t pc = pc_;
    uint8_t op, b1, b2;
    // Both operand bytes are fetched whatever the length; near the end of a
    // 256-byte page (which may be a patched copy) or of the code memory byte
    // by byte, and only those that exist.
    if (MCS51_LIKELY((pc & 0xFF) <= 0xFD && pc + 3u <= s.codeSize)) {
        const uint8_t *ip = s.fetchPage[pc >> 8] + (pc & 0xFF);
        op = ip[0];
        b1 = ip[1];
        b2 = ip[2];
    } else {
        if (pc >= s.codeSize || pc + kLength[code(pc)] > s.codeSize) {
            faultAt(Fault::CodeOutOfRange, pc);
            return;
        }
        op = code(pc);
        b1 = pc + 1u < s.codeSize ? code(uint16_t(pc + 1)) : 0;
        b2 = pc + 2u < s.codeSize ? code(uint16_t(pc + 2)) : 0;
    }
    // Each opcode sets the next PC from its own length, a constant: taken
    // from a table, every instruction would wait for the opcode's fetch
    // before the next could be fetched.
    uint16_t next = pc;
#define NEXT(length) (pc_ = next = uint16_t(pc + (length)))
    at = pc;
    clocks_ += kClocks[op];
    ++instructions_;

    switch (op) {
    case 0x00: // NOP
        NEXT(1);
        break;
        CASE_PAGE(0x01)
            : // AJMP
              NEXT(2);
        pc_ = uint16_t((next & 0xF800) | ((op & 0xE0) << 3) | b1);
        break;
        CASE_PAGE(0x11)
            : // ACALL
              NEXT(2);
        call(uint16_t((next & 0xF800) | ((op & 0xE0) << 3) | b1), next);
        break;
    case 0x02: // LJMP
        NEXT(3);
        pc_ = uint16_t((b1 << 8) | b2);
        break;
    case 0x12: // LCALL
        NEXT(3);
        call(uint16_t((b1 << 8) | b2), next);
        break;
    case 0x22: // RET
        NEXT(1);
        pc_ = popAddress();
        break;
    case 0x32: // RETI
        NEXT(1);
        pc_ = popAddress();
        save();
        s.returnFromInterrupt();
        load();
        break;
    case 0x73: // JMP @A+DPTR
        NEXT(1);
        pc_ = uint16_t(acc() + dptr());
        break;
    case 0x80: // SJMP
        NEXT(2);
        jumpRelative(next, b1);
        break;
    case 0x40: // JC
        NEXT(2);
        if (carry())
            jumpRelative(next, b1);
        break;
    case 0x50: // JNC
        NEXT(2);
        if (!carry())
            jumpRelative(next, b1);
        break;
    case 0x60: // JZ
        NEXT(2);
        if (!acc())
            jumpRelative(next, b1);
        break;
    case 0x70: // JNZ
        NEXT(2);
        if (acc())
            jumpRelative(next, b1);
        break;
    case 0x20: // JB
        NEXT(3);
        if (readBit(b1))
            jumpRelative(next, b2);
        break;
    case 0x30: // JNB
        NEXT(3);
        if (!readBit(b1))
            jumpRelative(next, b2);
        break;
    case 0x10: // JBC
        NEXT(3);
        if (readBit(b1)) {
            writeBit(b1, false);
            jumpRelative(next, b2);
        }
        break;
    case 0xB4: // CJNE A,#data,rel
        NEXT(3);
        compareJump(acc(), b1, next, b2);
        break;
    case 0xB5: // CJNE A,direct,rel
        NEXT(3);
        compareJump(acc(), readDirect(b1), next, b2);
        break;
        CASE2(0xB6)
            : // CJNE @Ri,#data,rel
              NEXT(3);
        compareJump(s.iram[r(op & 1)], b1, next, b2);
        break;
        CASE8(0xB8)
            : // CJNE Rn,#data,rel
              NEXT(3);
        compareJump(r(op & 7), b1, next, b2);
        break;
        CASE8(0xD8) : { // DJNZ Rn,rel
            NEXT(2);
            uint8_t &v = r(op & 7);
            if (--v)
                jumpRelative(next, b1);
            break;
        }
    case 0xD5: { // DJNZ direct,rel
        NEXT(3);
        const uint8_t v = uint8_t(readDirect(b1) - 1);
        writeDirect(b1, v);
        if (v)
            jumpRelative(next, b2);
        break;
    }

    // Arithmetic
    case 0x24:
        NEXT(2);
        add(b1, 0);
        break;
    case 0x25:
        NEXT(2);
        add(readDirect(b1), 0);
        break;
        CASE2(0x26) : NEXT(1);
        add(s.iram[r(op & 1)], 0);
        break;
        CASE8(0x28) : NEXT(1);
        add(r(op & 7), 0);
        break;
    case 0x34:
        NEXT(2);
        add(b1, carry());
        break;
    case 0x35:
        NEXT(2);
        add(readDirect(b1), carry());
        break;
        CASE2(0x36) : NEXT(1);
        add(s.iram[r(op & 1)], carry());
        break;
        CASE8(0x38) : NEXT(1);
        add(r(op & 7), carry());
        break;
    case 0x94:
        NEXT(2);
        subb(b1);
        break;
    case 0x95:
        NEXT(2);
        subb(readDirect(b1));
        break;
        CASE2(0x96) : NEXT(1);
        subb(s.iram[r(op & 1)]);
        break;
        CASE8(0x98) : NEXT(1);
        subb(r(op & 7));
        break;
    case 0x04:
        NEXT(1);
        ++acc();
        break;
    case 0x05:
        NEXT(2);
        writeDirect(b1, uint8_t(readDirect(b1) + 1));
        break;
        CASE2(0x06) : NEXT(1);
        ++s.iram[r(op & 1)];
        break;
        CASE8(0x08) : NEXT(1);
        ++r(op & 7);
        break;
    case 0x14:
        NEXT(1);
        --acc();
        break;
    case 0x15:
        NEXT(2);
        writeDirect(b1, uint8_t(readDirect(b1) - 1));
        break;
        CASE2(0x16) : NEXT(1);
        --s.iram[r(op & 1)];
        break;
        CASE8(0x18) : NEXT(1);
        --r(op & 7);
        break;
    case 0xA3: // INC DPTR
        NEXT(1);
        setDptr(uint16_t(dptr() + 1));
        break;
    case 0xA4: { // MUL AB
        NEXT(1);
        const unsigned product = acc() * s.sfrs[B - 0x80];
        acc() = uint8_t(product);
        s.sfrs[B - 0x80] = uint8_t(product >> 8);
        psw() = uint8_t((psw() & ~(CY | OV)) | (product > 0xFF ? OV : 0));
        break;
    }
    case 0x84: { // DIV AB; by zero: OV set, A and B kept
        NEXT(1);
        const uint8_t divisor = s.sfrs[B - 0x80];
        psw() &= ~(CY | OV);
        if (!divisor) {
            psw() |= OV;
        } else {
            const uint8_t dividend = acc();
            acc() = uint8_t(dividend / divisor);
            s.sfrs[B - 0x80] = uint8_t(dividend % divisor);
        }
        break;
    }
    case 0xD4:
        NEXT(1);
        decimalAdjust();
        break;

    // Logic
    case 0x52:
        NEXT(2);
        writeDirect(b1, readDirect(b1) & acc());
        break;
    case 0x53:
        NEXT(3);
        writeDirect(b1, readDirect(b1) & b2);
        break;
    case 0x54:
        NEXT(2);
        acc() &= b1;
        break;
    case 0x55:
        NEXT(2);
        acc() &= readDirect(b1);
        break;
        CASE2(0x56) : NEXT(1);
        acc() &= s.iram[r(op & 1)];
        break;
        CASE8(0x58) : NEXT(1);
        acc() &= r(op & 7);
        break;
    case 0x42:
        NEXT(2);
        writeDirect(b1, readDirect(b1) | acc());
        break;
    case 0x43:
        NEXT(3);
        writeDirect(b1, readDirect(b1) | b2);
        break;
    case 0x44:
        NEXT(2);
        acc() |= b1;
        break;
    case 0x45:
        NEXT(2);
        acc() |= readDirect(b1);
        break;
        CASE2(0x46) : NEXT(1);
        acc() |= s.iram[r(op & 1)];
        break;
        CASE8(0x48) : NEXT(1);
        acc() |= r(op & 7);
        break;
    case 0x62:
        NEXT(2);
        writeDirect(b1, readDirect(b1) ^ acc());
        break;
    case 0x63:
        NEXT(3);
        writeDirect(b1, readDirect(b1) ^ b2);
        break;
    case 0x64:
        NEXT(2);
        acc() ^= b1;
        break;
    case 0x65:
        NEXT(2);
        acc() ^= readDirect(b1);
        break;
        CASE2(0x66) : NEXT(1);
        acc() ^= s.iram[r(op & 1)];
        break;
        CASE8(0x68) : NEXT(1);
        acc() ^= r(op & 7);
        break;
    case 0xE4:
        NEXT(1);
        acc() = 0;
        break;
    case 0xF4:
        NEXT(1);
        acc() = uint8_t(~acc());
        break;
    case 0xC4:
        NEXT(1);
        acc() = uint8_t((acc() << 4) | (acc() >> 4));
        break;
    case 0x23:
        NEXT(1);
        acc() = uint8_t((acc() << 1) | (acc() >> 7));
        break;
    case 0x03:
        NEXT(1);
        acc() = uint8_t((acc() >> 1) | (acc() << 7));
        break;
    case 0x33: {
        NEXT(1);
        const uint8_t a = acc();
        acc() = uint8_t((a << 1) | carry());
        setCarry(a & 0x80);
        break;
    }
    case 0x13: {
        NEXT(1);
        const uint8_t a = acc();
        acc() = uint8_t((a >> 1) | (carry() << 7));
        setCarry(a & 1);
        break;
    }

    // Data transfer
    case 0x74:
        NEXT(2);
        acc() = b1;
        break;
    case 0xE5:
        NEXT(2);
        acc() = readDirect(b1);
        break;
        CASE2(0xE6) : NEXT(1);
        acc() = s.iram[r(op & 1)];
        break;
        CASE8(0xE8) : NEXT(1);
        acc() = r(op & 7);
        break;
        CASE8(0xF8) : NEXT(1);
        r(op & 7) = acc();
        break;
        CASE8(0xA8) : NEXT(2);
        r(op & 7) = readDirect(b1);
        break;
        CASE8(0x78) : NEXT(2);
        r(op & 7) = b1;
        break;
    case 0xF5:
        NEXT(2);
        writeDirect(b1, acc());
        break;
        CASE8(0x88) : NEXT(2);
        writeDirect(b1, r(op & 7));
        break;
    case 0x85: // MOV direct,direct: source first
        NEXT(3);
        writeDirect(b2, readDirect(b1));
        break;
        CASE2(0x86) : NEXT(2);
        writeDirect(b1, s.iram[r(op & 1)]);
        break;
    case 0x75:
        NEXT(3);
        writeDirect(b1, b2);
        break;
        CASE2(0xF6) : NEXT(1);
        s.iram[r(op & 1)] = acc();
        break;
        CASE2(0xA6) : NEXT(2);
        s.iram[r(op & 1)] = readDirect(b1);
        break;
        CASE2(0x76) : NEXT(2);
        s.iram[r(op & 1)] = b1;
        break;
    case 0x90:
        NEXT(3);
        setDptr(uint16_t((b1 << 8) | b2));
        break;
    case 0x93: { // MOVC A,@A+DPTR
        NEXT(1);
        const uint16_t a = uint16_t(acc() + dptr());
        // Nothing drives the bus beyond the code memory.
        acc() = a < s.codeSize ? code(a) : 0xFF;
        break;
    }
    case 0x83: { // MOVC A,@A+PC
        NEXT(1);
        const uint16_t a = uint16_t(acc() + next);
        acc() = a < s.codeSize ? code(a) : 0xFF;
        break;
    }
    case 0xE0: // MOVX A,@DPTR
        NEXT(1);
        clocks_ += 4u * s.stretch;
        acc() = readXdata(dptr());
        break;
        CASE2(0xE2) : NEXT(1);
        clocks_ += 4u * s.stretch;
        acc() = readXdata(pagedAddress(op & 1));
        break;
    case 0xF0:
        NEXT(1);
        clocks_ += 4u * s.stretch;
        writeXdata(dptr(), acc());
        break;
        CASE2(0xF2) : NEXT(1);
        clocks_ += 4u * s.stretch;
        writeXdata(pagedAddress(op & 1), acc());
        break;
    case 0xC0: { // PUSH: SP is incremented before the source is read (PUSH SP)
        NEXT(2);
        ++sp();
        const uint8_t v = readDirect(b1);
        s.iram[sp()] = v;
        break;
    }
    case 0xD0: {
        NEXT(2);
        const uint8_t v = pop();
        writeDirect(b1, v);
        break;
    }
    case 0xC5: {
        NEXT(2);
        const uint8_t v = readDirect(b1);
        writeDirect(b1, acc());
        acc() = v;
        break;
    }
        CASE2(0xC6) : NEXT(1);
        std::swap(acc(), s.iram[r(op & 1)]);
        break;
        CASE8(0xC8) : NEXT(1);
        std::swap(acc(), r(op & 7));
        break;
        CASE2(0xD6) : { // XCHD
            NEXT(1);
            uint8_t &m = s.iram[r(op & 1)];
            const uint8_t a = acc();
            acc() = uint8_t((a & 0xF0) | (m & 0x0F));
            m = uint8_t((m & 0xF0) | (a & 0x0F));
            break;
        }

    // Bits
    case 0xC3:
        NEXT(1);
        psw() &= ~CY;
        break;
    case 0xD3:
        NEXT(1);
        psw() |= CY;
        break;
    case 0xB3:
        NEXT(1);
        psw() ^= CY;
        break;
    case 0xC2:
        NEXT(2);
        writeBit(b1, false);
        break;
    case 0xD2:
        NEXT(2);
        writeBit(b1, true);
        break;
    case 0xB2:
        NEXT(2);
        writeBit(b1, !readBit(b1));
        break;
    case 0x82:
        NEXT(2);
        setCarry(carry() && readBit(b1));
        break;
    case 0xB0:
        NEXT(2);
        setCarry(carry() && !readBit(b1));
        break;
    case 0x72:
        NEXT(2);
        setCarry(carry() || readBit(b1));
        break;
    case 0xA0:
        NEXT(2);
        setCarry(carry() || !readBit(b1));
        break;
    case 0xA2:
        NEXT(2);
        setCarry(readBit(b1));
        break;
    case 0x92:
        NEXT(2);
        writeBit(b1, carry());
        break;

    default: // 0xA5
        pc_ = pc;
        clocks_ -= kClocks[op];
        --instructions_;
        faultAt(Fault::UndefinedOpcode, pc);
        break;
    }
#undef NEXT
}

} // namespace

Core::Core(Bus &bus) : s_(new CoreState(bus)) {
    for (unsigned a = 0x80; a < 0x100; ++a)
        s_->kind[a - 0x80] = CoreState::Unknown;
    for (uint8_t a : {SP, DPL, DPH, DPL1, DPH1, MPAGE, SBUF0, SBUF1, ACC, B})
        s_->kind[a - 0x80] = CoreState::Plain;
    for (uint8_t a : {DPS, PCON,  TCON,  TMOD,   TL0,    TL1, TH0, TH1, CKCON, EXIF, SCON0, IE,
                      IP,  SCON1, T2CON, RCAP2L, RCAP2H, TL2, TH2, PSW, EICON, EIE,  EIP})
        s_->kind[a - 0x80] = CoreState::Special;
    s_->rebuildFetchTables();
    reset();
}

Core::~Core() {
    delete s_;
}

void Core::setCodeMemory(const uint8_t *memory, uint32_t size) {
    ++s_->effects;
    s_->code = memory;
    s_->codeSize = memory ? std::min<uint32_t>(size, 0x10000) : 0;
    s_->rebuildFetchTables();
}

void Core::mapXdataPage(uint8_t page, uint8_t *memory) {
    ++s_->effects;
    s_->xdataMapped[page] = memory;
    s_->rebuildFetchTables();
}

void Core::setCodeOverlay(uint16_t address, int value) {
    ++s_->effects;
    if (value < 0)
        s_->overlays.erase(address);
    else
        s_->overlays[address] = uint8_t(value);
    s_->rebuildFetchTables();
}

void Core::claimSfr(uint8_t address) {
    if (address >= 0x80)
        s_->kind[address - 0x80] = CoreState::Claimed;
}

void Core::reset() {
    CoreState &s = *s_;
    ++s.effects;
    s.pc = 0;
    s.clocks = 0;
    s.instructions = 0;
    s.fault = Fault::None;
    s.faultPc = 0;
    s.inService = 0;
    s.irqBlocked = false;
    s.stopRequested = false;
    s.idle = false;
    s.timerSync = 0;
    s.resetSfrs();
    s.scheduleTimers();
    s.updateInterrupts();
}

void Core::run(uint64_t clockLimit) {
    CoreState &s = *s_;
    s.stopRequested = false;
    for (;;) {
        if (s.clocks >= clockLimit)
            return;
        if (s.clocks >= s.nextTimerEvent) {
            s.syncTimers();
            s.scheduleTimers();
            s.updateInterrupts();
        }
        s.rescheduled = false;
        if (s.fault != Fault::None || s.stopRequested)
            return;
        const bool blocked = s.irqBlocked;
        s.irqBlocked = false;
        if (!blocked && s.irqReady && s.enterInterrupt())
            continue;
        if (s.idle) {
            // Nothing runs until a timer sets a flag, or the limit.
            s.clocks = std::min(clockLimit, std::max(s.clocks, s.nextTimerEvent));
            continue;
        }
        s.updateAttention();
        Cpu cpu{s};
        if (s.attention) {
            // An interrupt waits for this one instruction.
            cpu.execute();
            cpu.save();
            continue;
        }
        // The fast path, until the limit, a timer event, or something that
        // needs a look (a request, a new timer schedule, idle, stop, fault).
        const uint64_t until = std::min(clockLimit, s.nextTimerEvent);
        do
            cpu.execute();
        while (!s.attention && cpu.clocks_ < until);
        cpu.save();
    }
}

void Core::step() {
    CoreState &s = *s_;
    if (s.fault != Fault::None)
        return;
    if (s.clocks >= s.nextTimerEvent) {
        s.syncTimers();
        s.scheduleTimers();
        s.updateInterrupts();
    }
    s.rescheduled = false;
    const bool blocked = s.irqBlocked;
    s.irqBlocked = false;
    s.updateAttention();
    if (!blocked && s.irqReady && s.enterInterrupt())
        return;
    if (s.idle) {
        s.clocks = s.nextTimerEvent != kNever ? std::max(s.clocks, s.nextTimerEvent) : s.clocks + 4;
        return;
    }
    Cpu cpu{s};
    cpu.execute();
    cpu.save();
}

void Core::stop() {
    s_->stopRequested = true;
    s_->attention = true;
}

uint64_t Core::clocks() const {
    return s_->clocks;
}
uint64_t Core::instructions() const {
    return s_->instructions;
}
Fault Core::fault() const {
    return s_->fault;
}
uint16_t Core::faultPc() const {
    return s_->faultPc;
}
bool Core::idle() const {
    return s_->idle;
}
uint16_t Core::pc() const {
    return s_->pc;
}
void Core::setPc(uint16_t pc) {
    s_->pc = pc;
}
uint8_t Core::iram(uint8_t address) const {
    return s_->iram[address];
}
void Core::setIram(uint8_t address, uint8_t value) {
    s_->iram[address] = value;
}

uint8_t Core::sfr(uint8_t address) const {
    return address >= 0x80 ? s_->peekSfr(address) : 0;
}

void Core::setSfr(uint8_t address, uint8_t value) {
    if (address >= 0x80)
        s_->pokeSfr(address, value);
}

void Core::raiseInterrupt(Interrupt source) {
    struct Flag {
        uint8_t address, mask;
    };
    constexpr Flag flags[] = {{EICON, 0x10}, {TCON, 0x02},  {TCON, 0x20},  {TCON, 0x08},
                              {TCON, 0x80},  {SCON0, 0x01}, {T2CON, 0x80}, {SCON1, 0x01},
                              {EXIF, 0x10},  {EXIF, 0x20},  {EXIF, 0x40},  {EXIF, 0x80},
                              {EICON, 0x08}};
    const Flag f = flags[uint8_t(source)];
    setSfr(f.address, uint8_t(sfr(f.address) | f.mask));
}

namespace {
// The timers' counts move with the clock, and the core brings them up to date
// only when asked: a state compares without them.
constexpr uint8_t kTimerCounts[] = {TL0, TL1, TH0, TH1, TL2, TH2};
} // namespace

void Core::mark(StateMark &m) const {
    const CoreState &s = *s_;
    std::copy(std::begin(s.iram), std::end(s.iram), m.iram);
    std::copy(std::begin(s.sfrs), std::end(s.sfrs), m.sfrs);
    for (const uint8_t a : kTimerCounts)
        m.sfrs[a - 0x80] = 0;
    m.pc = s.pc;
    m.instructionPc = s.instructionPc;
    m.inService = s.inService;
    m.irqBlocked = s.irqBlocked;
    m.idle = s.idle;
    m.effects = s.effects;
    m.clocks = s.clocks;
    m.instructions = s.instructions;
}

bool Core::sameState(const StateMark &m) const {
    const CoreState &s = *s_;
    if (s.pc != m.pc || s.instructionPc != m.instructionPc || s.effects != m.effects ||
        s.inService != m.inService || s.irqBlocked != m.irqBlocked || s.idle != m.idle ||
        std::memcmp(s.iram, m.iram, sizeof m.iram) != 0)
        return false;
    uint8_t sfrs[128];
    std::copy(std::begin(s.sfrs), std::end(s.sfrs), sfrs);
    for (const uint8_t a : kTimerCounts)
        sfrs[a - 0x80] = 0;
    return std::memcmp(sfrs, m.sfrs, sizeof sfrs) == 0;
}

void Core::skipAhead(uint64_t clocks, uint64_t instructions) {
    s_->clocks += clocks;
    s_->instructions += instructions;
}

uint64_t Core::nextTimerEvent() const {
    return s_->nextTimerEvent;
}

uint64_t Core::unknownSfrAccesses() const {
    return s_->unknownAccesses;
}
uint8_t Core::lastUnknownSfr() const {
    return s_->lastUnknown;
}

} // namespace mcs51
