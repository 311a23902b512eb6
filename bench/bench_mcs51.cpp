// Emulated 8051 instructions per second on the FX2 core. A real FX2 at 48 MHz
// runs about 12 million; the simulator must stay well ahead of that.
#include "Mcs51Core.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

// The chip's registers: a status register that reports "done" every few
// reads, everything else zero.
class FixedBus : public mcs51::Bus {
public:
    uint8_t readXdata(uint16_t) override { return uint8_t(++reads_ & 3) == 0 ? 0x01 : 0x00; }
    void writeXdata(uint16_t, uint8_t) override {}
    uint8_t readSfr(uint8_t) override { return 0; }
    void writeSfr(uint8_t, uint8_t) override {}

private:
    unsigned reads_ = 0;
};

struct Machine {
    FixedBus bus;
    mcs51::Core core{bus};
    std::vector<uint8_t> ram = std::vector<uint8_t>(0x4000, 0);

    explicit Machine(const std::vector<uint8_t> &program) {
        std::copy(program.begin(), program.end(), ram.begin());
        core.setCodeMemory(ram.data(), uint32_t(ram.size()));
        for (unsigned p = 0; p < 0x40; ++p)
            core.mapXdataPage(uint8_t(p), ram.data() + p * 256);
        core.reset();
    }
};

void runProgram(benchmark::State &state, const std::vector<uint8_t> &program) {
    Machine m(program);
    const uint64_t slice = 4'000'000; // clocks: about a tenth of a second of FX2 time
    uint64_t instructions = 0;
    for (auto _ : state) {
        const uint64_t before = m.core.instructions();
        m.core.run(m.core.clocks() + slice);
        instructions += m.core.instructions() - before;
        if (m.core.fault() != mcs51::Fault::None) {
            state.SkipWithError("the core faulted");
            break;
        }
    }
    state.counters["instructions/s"] =
        benchmark::Counter(double(instructions), benchmark::Counter::kIsRate);
}

// Reset and Timer 0 vectors, then the program at 0x40. Timer 0 runs in mode
// 2 at CLKOUT/12 with its interrupt, as the firmware runs it: an interrupt
// and a RETI every 3,072 clocks.
std::vector<uint8_t> withVectors(const std::vector<uint8_t> &body) {
    static const uint8_t setup[] = {
        0x75, 0x8E, 0x00, // MOV CKCON,#0 (no MOVX stretch)
        0x75, 0x89, 0x02, // MOV TMOD,#02h
        0x75, 0x8C, 0x00, // MOV TH0,#0
        0xD2, 0x8C,       // SETB TR0
        0x75, 0xA8, 0x82, // MOV IE,#82h (EA, ET0)
    };
    std::vector<uint8_t> image(0x40 + sizeof setup + body.size(), 0);
    image[0x00] = 0x02; // LJMP 0040
    image[0x02] = 0x40;
    image[0x0B] = 0x32; // RETI
    std::copy(std::begin(setup), std::end(setup), image.begin() + 0x40);
    std::copy(body.begin(), body.end(), image.begin() + 0x40 + sizeof setup);
    return image;
}

// The loops below start at 0x004E, after the set-up.

// Copies 256-byte blocks between two buffers with both data pointers, as the
// firmware moves endpoint data: MOVX, INC DPTR, DPS toggles and DJNZ.
const std::vector<uint8_t> kCopyLoop = withVectors({
    0x90, 0x10, 0x00, // 004E MOV DPTR,#1000h
    0x05, 0x86,       // 0051 INC DPS
    0x90, 0x20, 0x00, // 0053 MOV DPTR,#2000h
    0x05, 0x86,       // 0056 INC DPS
    0x7F, 0x00,       // 0058 MOV R7,#0
    0xE0,             // 005A MOVX A,@DPTR
    0xA3,             // 005B INC DPTR
    0x05, 0x86,       // 005C INC DPS
    0xF0,             // 005E MOVX @DPTR,A
    0xA3,             // 005F INC DPTR
    0x05, 0x86,       // 0060 INC DPS
    0xDF, 0xF6,       // 0062 DJNZ R7,005A
    0x80, 0xE8,       // 0064 SJMP 004E
});

// Arithmetic and logic on registers, direct and indirect operands.
const std::vector<uint8_t> kArithmetic = withVectors({
    0x78, 0x30,       // 004E MOV R0,#30h
    0x7F, 0x00,       // 0050 MOV R7,#0
    0xE6,             // 0052 MOV A,@R0
    0x2F,             // 0053 ADD A,R7
    0xD4,             // 0054 DA A
    0x75, 0xF0, 0x07, // 0055 MOV B,#7
    0xA4,             // 0058 MUL AB
    0x95, 0x31,       // 0059 SUBB A,31h
    0xC5, 0x32,       // 005B XCH A,32h
    0x23,             // 005D RL A
    0x54, 0x5A,       // 005E ANL A,#5Ah
    0x62, 0x33,       // 0060 XRL 33h,A
    0xF6,             // 0062 MOV @R0,A
    0x08,             // 0063 INC R0
    0xB8, 0x40, 0x02, // 0064 CJNE R0,#40h,0069
    0x78, 0x30,       // 0067 MOV R0,#30h
    0xDF, 0xE7,       // 0069 DJNZ R7,0052
    0x80, 0xE3,       // 006B SJMP 0050
});

// Waits for a status bit in a chip register (an unmapped page: every read
// goes to the Bus), the way the firmware polls I2CS for DONE.
const std::vector<uint8_t> kPollLoop = withVectors({
    0x90, 0xE6, 0x78, // 004E MOV DPTR,#E678h
    0xE0,             // 0051 MOVX A,@DPTR
    0x30, 0xE0, 0xFC, // 0052 JNB ACC.0,0051
    0x05, 0x40,       // 0055 INC 40h
    0x80, 0xF5,       // 0057 SJMP 004E
});

void BM_CopyLoop(benchmark::State &state) {
    runProgram(state, kCopyLoop);
}
void BM_Arithmetic(benchmark::State &state) {
    runProgram(state, kArithmetic);
}
void BM_PollLoop(benchmark::State &state) {
    runProgram(state, kPollLoop);
}

} // namespace

BENCHMARK(BM_CopyLoop);
BENCHMARK(BM_Arithmetic);
BENCHMARK(BM_PollLoop);

BENCHMARK_MAIN();
