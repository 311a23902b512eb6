// The FX2-specific behaviour of the 8051 core that s51 cannot check: cycle
// counts, MOVX stretch, the second data pointer, MPAGE, interrupt priorities
// and nesting, timers, idle mode, code overlays, faults and SFR routing.
#include "InstructionTable.h"
#include "Mcs51Core.h"

#include <QTest>

#include <functional>
#include <vector>

using mcs51::Core;
using mcs51::Fault;
using mcs51::Interrupt;

namespace {

constexpr uint8_t SP = 0x81, DPL = 0x82, DPH = 0x83, DPL1 = 0x84, DPH1 = 0x85, DPS = 0x86,
                  PCON = 0x87, TCON = 0x88, TMOD = 0x89, TL0 = 0x8A, TL1 = 0x8B, TH0 = 0x8C,
                  TH1 = 0x8D, CKCON = 0x8E, EXIF = 0x91, MPAGE = 0x92, SCON0 = 0x98, SBUF0 = 0x99,
                  IE = 0xA8, IP = 0xB8, T2CON = 0xC8, RCAP2L = 0xCA, RCAP2H = 0xCB, TL2 = 0xCC,
                  TH2 = 0xCD, PSW = 0xD0, EICON = 0xD8, ACC = 0xE0, EIE = 0xE8, B = 0xF0,
                  EIP = 0xF8;

// 16 KiB of RAM that is both code and xdata 0x0000-0x3FFF, as on the FX2;
// the rest of xdata and the claimed SFRs are recorded.
struct Rig : mcs51::Bus {
    std::vector<uint8_t> ram = std::vector<uint8_t>(0x4000, 0);
    Core core{*this};
    std::vector<uint16_t> xdataReads;
    std::vector<std::pair<uint16_t, uint8_t>> xdataWrites;
    std::vector<std::pair<char, uint8_t>> sfrAccesses; // 'r' or 'w', address
    std::function<void()> onXdataWrite;
    uint8_t sfrValue = 0;

    Rig() {
        core.setCodeMemory(ram.data(), uint32_t(ram.size()));
        for (unsigned p = 0; p < 0x40; ++p)
            core.mapXdataPage(uint8_t(p), ram.data() + p * 256);
        core.reset();
    }
    void load(uint16_t at, std::initializer_list<uint8_t> bytes) {
        std::copy(bytes.begin(), bytes.end(), ram.begin() + at);
    }

    uint8_t readXdata(uint16_t a) override {
        xdataReads.push_back(a);
        return uint8_t(a ^ 0x5A);
    }
    void writeXdata(uint16_t a, uint8_t v) override {
        xdataWrites.push_back({a, v});
        if (onXdataWrite)
            onXdataWrite();
    }
    uint8_t readSfr(uint8_t a) override {
        sfrAccesses.push_back({'r', a});
        return sfrValue;
    }
    void writeSfr(uint8_t a, uint8_t v) override {
        sfrAccesses.push_back({'w', a});
        sfrValue = v;
    }
};

// A main program of NOPs at 0x0100 and a service routine at every vector
// that records its vector in internal RAM and returns:
//   vector: MOV 0x30,#vector ; LJMP routine
//   routine at 0x0200 + vector*4 (set per test) or plain RETI.
void installVectors(Rig &rig, bool plainReti = true) {
    for (int s = 0; s <= int(Interrupt::Int6); ++s) {
        const uint16_t v = mcs51::interruptVector(Interrupt(s));
        if (plainReti)
            rig.load(v, {0x75, 0x30, uint8_t(v), 0x32}); // MOV 30h,#v ; RETI
    }
}

uint16_t vectorOf(Interrupt s) {
    return mcs51::interruptVector(s);
}

} // namespace

enum class PointerUse { Increment, MovxRead, MovxWrite, Movc, Load, Jump };

Q_DECLARE_METATYPE(Interrupt)
Q_DECLARE_METATYPE(std::vector<Interrupt>)
Q_DECLARE_METATYPE(std::vector<uint8_t>)
Q_DECLARE_METATYPE(PointerUse)
Q_DECLARE_METATYPE(Fault)
using Presets = std::vector<std::pair<uint8_t, uint8_t>>;
Q_DECLARE_METATYPE(Presets)

class Mcs51Core : public QObject {
    Q_OBJECT

private slots:
    void cyclesPerOpcode_data();
    void cyclesPerOpcode();
    void movxStretch_data();
    void movxStretch();
    void resetValues_data();
    void resetValues();
    void dataPointerSelection_data();
    void dataPointerSelection();
    void movxAtRiTakesThePageFromMpage_data();
    void movxAtRiTakesThePageFromMpage();
    void interruptOrder_data();
    void interruptOrder();
    void nestingFollowsLevels();
    void oneInstructionBeforeTheInterrupt_data();
    void oneInstructionBeforeTheInterrupt();
    void flagsClearedOnVectoring_data();
    void flagsClearedOnVectoring();
    void timerOverflow_data();
    void timerOverflow();
    void timerReload_data();
    void timerReload();
    void idleEndsOnInterrupt();
    void idleTimerWakesOnTime();
    void overlayReplacesFetchedBytesOnly();
    void faults_data();
    void faults();
    void sfrRouting_data();
    void sfrRouting();
    void busCallbacksSeeTheEndOfTheInstruction();
    void stopFromCallbackEndsRunAfterTheInstruction();
    void semantics_data();
    void semantics();
};

// Every opcode takes the FX2 cycles of the instruction table (MOVX at
// stretch 0), whatever it does.
void Mcs51Core::cyclesPerOpcode_data() {
    QTest::addColumn<int>("opcode");
    QTest::addColumn<int>("cycles");
    const auto table = instruction_table::byOpcode();
    for (int op = 0; op < 256; ++op)
        if (table[size_t(op)].row)
            QTest::addRow("%02X %s", op, table[size_t(op)].row->mnemonic)
                << op << int(table[size_t(op)].row->fx2Cycles);
}

void Mcs51Core::cyclesPerOpcode() {
    QFETCH(int, opcode);
    QFETCH(int, cycles);
    Rig rig;
    rig.core.setSfr(CKCON, 0x00);
    rig.load(0x100, {uint8_t(opcode), 0x00, 0x00});
    rig.core.setPc(0x100);
    rig.core.step();
    QCOMPARE(rig.core.fault(), Fault::None);
    QCOMPARE(rig.core.clocks(), uint64_t(4 * cycles));
    QCOMPARE(rig.core.instructions(), uint64_t(1));
}

void Mcs51Core::movxStretch_data() {
    QTest::addColumn<int>("opcode");
    QTest::addColumn<int>("stretch");
    for (int op : {0xE0, 0xE2, 0xF0, 0xF3})
        for (int md = 0; md < 8; ++md)
            QTest::addRow("%02X MD=%d", op, md) << op << md;
}

// MOVX takes 2 cycles plus CKCON's stretch value (MD2..0).
void Mcs51Core::movxStretch() {
    QFETCH(int, opcode);
    QFETCH(int, stretch);
    Rig rig;
    rig.core.setSfr(CKCON, uint8_t(stretch));
    rig.load(0x100, {uint8_t(opcode)});
    rig.core.setPc(0x100);
    rig.core.step();
    QCOMPARE(rig.core.clocks(), uint64_t(4 * (2 + stretch)));
}

// The FX2's register summary: values after reset; unused bits that read as
// one stay one.
void Mcs51Core::resetValues_data() {
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("value");
    const std::pair<const char *, std::pair<int, int>> rows[] = {
        {"SP", {SP, 0x07}},      {"DPL0", {DPL, 0}},       {"DPH0", {DPH, 0}},
        {"DPL1", {DPL1, 0}},     {"DPH1", {DPH1, 0}},      {"DPS", {DPS, 0}},
        {"PCON", {PCON, 0x30}},  {"TCON", {TCON, 0}},      {"TMOD", {TMOD, 0}},
        {"TL0", {TL0, 0}},       {"TH0", {TH0, 0}},        {"TL1", {TL1, 0}},
        {"TH1", {TH1, 0}},       {"CKCON", {CKCON, 0x01}}, {"EXIF", {EXIF, 0x08}},
        {"MPAGE", {MPAGE, 0}},   {"SCON0", {SCON0, 0}},    {"SBUF0", {SBUF0, 0}},
        {"IE", {IE, 0}},         {"IP", {IP, 0x80}},       {"T2CON", {T2CON, 0}},
        {"RCAP2L", {RCAP2L, 0}}, {"RCAP2H", {RCAP2H, 0}},  {"TL2", {TL2, 0}},
        {"TH2", {TH2, 0}},       {"PSW", {PSW, 0}},        {"EICON", {EICON, 0x40}},
        {"ACC", {ACC, 0}},       {"EIE", {EIE, 0xE0}},     {"B", {B, 0}},
        {"EIP", {EIP, 0xE0}},
    };
    for (const auto &[name, r] : rows)
        QTest::newRow(name) << r.first << r.second;
}

void Mcs51Core::resetValues() {
    QFETCH(int, address);
    QFETCH(int, value);
    Rig rig;
    rig.core.setSfr(uint8_t(address), 0x00);
    rig.core.setSfr(uint8_t(address), 0x5A);
    rig.core.reset();
    QCOMPARE(int(rig.core.sfr(uint8_t(address))), value);
    QCOMPARE(rig.core.pc(), uint16_t(0));
    QCOMPARE(rig.core.clocks(), uint64_t(0));
}

void Mcs51Core::dataPointerSelection_data() {
    QTest::addColumn<int>("dps");
    QTest::addColumn<PointerUse>("use");
    QTest::addColumn<std::vector<uint8_t>>("code");
    const std::pair<const char *, std::pair<PointerUse, std::vector<uint8_t>>> uses[] = {
        {"INC DPTR", {PointerUse::Increment, {0xA3}}},
        {"MOVX A,@DPTR", {PointerUse::MovxRead, {0xE0}}},
        {"MOVX @DPTR,A", {PointerUse::MovxWrite, {0xF0}}},
        {"MOVC A,@A+DPTR", {PointerUse::Movc, {0x93}}},
        {"MOV DPTR,#", {PointerUse::Load, {0x90, 0x12, 0x34}}},
        {"JMP @A+DPTR", {PointerUse::Jump, {0x73}}},
    };
    for (int dps : {0, 1})
        for (const auto &[name, u] : uses)
            QTest::addRow("%s DPS=%d", name, dps) << dps << u.first << u.second;
}

// DPS.0 selects the pointer every DPTR instruction uses; the other keeps its
// value.
void Mcs51Core::dataPointerSelection() {
    QFETCH(int, dps);
    QFETCH(PointerUse, use);
    QFETCH(std::vector<uint8_t>, code);
    Rig rig;
    std::copy(code.begin(), code.end(), rig.ram.begin() + 0x100);
    for (unsigned a = 0; a < 0x4000; a += 0x100)
        if (a != 0x100)
            for (unsigned i = 0; i < 0x100; ++i)
                rig.ram[a + i] = uint8_t(a >> 8 ^ i);
    const uint16_t selected = dps ? 0x2345 : 0x1234, other = dps ? 0x1234 : 0x2345;
    rig.core.setSfr(DPL, uint8_t(0x1234 & 0xFF));
    rig.core.setSfr(DPH, 0x12);
    rig.core.setSfr(DPL1, 0x45);
    rig.core.setSfr(DPH1, 0x23);
    rig.core.setSfr(DPS, uint8_t(dps));
    rig.core.setSfr(ACC, 0x10);
    rig.core.setPc(0x100);
    rig.core.step();
    auto pointer = [&](int which) {
        return uint16_t(which ? rig.core.sfr(DPL1) | rig.core.sfr(DPH1) << 8
                              : rig.core.sfr(DPL) | rig.core.sfr(DPH) << 8);
    };
    const int otherIndex = 1 - dps;
    uint16_t expectSelected = selected;
    switch (use) {
    case PointerUse::Increment:
        expectSelected = uint16_t(selected + 1);
        break;
    case PointerUse::MovxRead:
        QCOMPARE(rig.core.sfr(ACC), rig.ram[selected]);
        break;
    case PointerUse::MovxWrite:
        QCOMPARE(rig.ram[selected], uint8_t(0x10));
        QVERIFY(rig.ram[other] != 0x10);
        break;
    case PointerUse::Movc:
        QCOMPARE(rig.core.sfr(ACC), rig.ram[selected + 0x10]);
        break;
    case PointerUse::Load:
        expectSelected = 0x1234;
        break;
    case PointerUse::Jump:
        QCOMPARE(rig.core.pc(), uint16_t(selected + 0x10));
        break;
    }
    QCOMPARE(pointer(dps), expectSelected);
    QCOMPARE(pointer(otherIndex), other);
}

void Mcs51Core::movxAtRiTakesThePageFromMpage_data() {
    QTest::addColumn<int>("opcode");
    QTest::addColumn<int>("mpage");
    QTest::addColumn<bool>("write");
    for (int op : {0xE2, 0xE3, 0xF2, 0xF3})
        for (int page : {0x00, 0x21, 0xE6})
            QTest::addRow("%02X MPAGE=%02X", op, page) << op << page << (op >= 0xF0);
}

void Mcs51Core::movxAtRiTakesThePageFromMpage() {
    QFETCH(int, opcode);
    QFETCH(int, mpage);
    QFETCH(bool, write);
    Rig rig;
    rig.load(0x100, {uint8_t(opcode)});
    rig.core.setIram(0, 0x77); // R0
    rig.core.setIram(1, 0x88); // R1
    rig.core.setSfr(MPAGE, uint8_t(mpage));
    rig.core.setSfr(ACC, 0xC3);
    rig.core.setPc(0x100);
    rig.core.step();
    const uint16_t address = uint16_t(mpage << 8 | (opcode & 1 ? 0x88 : 0x77));
    if (address < 0x4000) {
        if (write)
            QCOMPARE(rig.ram[address], uint8_t(0xC3));
        else
            QCOMPARE(rig.core.sfr(ACC), rig.ram[address]);
    } else if (write) {
        QCOMPARE(rig.xdataWrites.size(), size_t(1));
        QCOMPARE(rig.xdataWrites[0].first, address);
    } else {
        QCOMPARE(rig.xdataReads, std::vector<uint16_t>{address});
    }
}

void Mcs51Core::interruptOrder_data() {
    QTest::addColumn<std::vector<Interrupt>>("pending");
    QTest::addColumn<int>("ip");
    QTest::addColumn<int>("eip");
    QTest::addColumn<Interrupt>("first");
    using I = Interrupt;
    QTest::newRow("natural order: INT0 before TF0")
        << std::vector<I>{I::Timer0, I::Int0} << 0 << 0 << I::Int0;
    QTest::newRow("natural order: TF2 before USB")
        << std::vector<I>{I::Usb, I::Timer2} << 0 << 0 << I::Timer2;
    QTest::newRow("natural order: USB before I2C")
        << std::vector<I>{I::I2c, I::Usb} << 0 << 0 << I::Usb;
    QTest::newRow("natural order: INT5 before INT6")
        << std::vector<I>{I::Int6, I::Int5} << 0 << 0 << I::Int5;
    QTest::newRow("high USB before low INT0")
        << std::vector<I>{I::Int0, I::Usb} << 0 << 0x01 << I::Usb;
    QTest::newRow("high serial 1 before low TF0")
        << std::vector<I>{I::Timer0, I::Serial1} << 0x40 << 0 << I::Serial1;
    QTest::newRow("high INT6 before low INT0 and TF1")
        << std::vector<I>{I::Int0, I::Timer1, I::Int6} << 0 << 0x10 << I::Int6;
    QTest::newRow("resume before everything high")
        << std::vector<I>{I::Int0, I::Usb, I::Resume} << 0x7F << 0x1F << I::Resume;
    QTest::newRow("among high ones the natural order")
        << std::vector<I>{I::I2c, I::Timer1} << 0x08 << 0x02 << I::Timer1;
}

void Mcs51Core::interruptOrder() {
    QFETCH(std::vector<Interrupt>, pending);
    QFETCH(int, ip);
    QFETCH(int, eip);
    QFETCH(Interrupt, first);
    Rig rig;
    installVectors(rig);
    rig.core.setPc(0x100);
    rig.core.setSfr(IE, 0xFF);
    rig.core.setSfr(EIE, 0x1F);
    rig.core.setSfr(EICON, 0x20); // ERESI
    rig.core.setSfr(IP, uint8_t(ip));
    rig.core.setSfr(EIP, uint8_t(eip));
    for (Interrupt s : pending)
        rig.core.raiseInterrupt(s);
    rig.core.step();
    QCOMPARE(rig.core.pc(), vectorOf(first));
    // The return address of the interrupted program is on the stack.
    QCOMPARE(rig.core.sfr(SP), uint8_t(0x09));
    QCOMPARE(rig.core.iram(8), uint8_t(0x00));
    QCOMPARE(rig.core.iram(9), uint8_t(0x01));
    QCOMPARE(rig.core.clocks(), uint64_t(4 * 4));
}

// A low-level routine is interrupted by a high one, a high one only by resume;
// RETI gives the level back, and a request of the level in service waits for
// that level's RETI.
void Mcs51Core::nestingFollowsLevels() {
    Rig rig;
    // Routines that just spin, so the test decides when they return.
    for (Interrupt s :
         {Interrupt::Int0, Interrupt::Int1, Interrupt::Usb, Interrupt::I2c, Interrupt::Resume})
        rig.load(vectorOf(s), {0x00, 0x00, 0x00, 0x00, 0x32}); // NOP x4, RETI
    rig.core.setPc(0x100);
    rig.core.setSfr(IE, 0x85);    // EA, EX0, EX1
    rig.core.setSfr(EIE, 0xE3);   // USB, I2C
    rig.core.setSfr(EIP, 0xE1);   // USB high
    rig.core.setSfr(EICON, 0x60); // ERESI
    rig.core.setSfr(TCON, 0x05);  // edge-triggered INT0/INT1

    rig.core.raiseInterrupt(Interrupt::Int0);
    rig.core.step();
    QCOMPARE(rig.core.pc(), uint16_t(0x03));
    rig.core.raiseInterrupt(Interrupt::Int1); // same level: waits
    rig.core.step();
    QCOMPARE(rig.core.pc(), uint16_t(0x04));
    rig.core.raiseInterrupt(Interrupt::Usb); // high: preempts
    rig.core.step();
    QCOMPARE(rig.core.pc(), uint16_t(0x43));
    rig.core.raiseInterrupt(Interrupt::I2c); // low: waits
    rig.core.step();
    QCOMPARE(rig.core.pc(), uint16_t(0x44));
    rig.core.raiseInterrupt(Interrupt::Resume); // resume preempts a high routine
    rig.core.step();
    QCOMPARE(rig.core.pc(), uint16_t(0x33));
    rig.core.setSfr(EICON, 0x60 & ~0x10);
    for (int i = 0; i < 5; ++i) // NOPs and RETI of resume
        rig.core.step();
    QCOMPARE(rig.core.pc(), uint16_t(0x44));
    rig.core.setSfr(EXIF, rig.core.sfr(EXIF) & ~0x10); // USB served
    while (rig.core.pc() != 0x04 && rig.core.instructions() < 100)
        rig.core.step(); // rest of the USB routine, back to INT0's
    QCOMPARE(rig.core.pc(), uint16_t(0x04));
    // INT1 and I2C (both low) still wait for INT0's RETI.
    for (int i = 0; i < 4; ++i)
        rig.core.step();
    QCOMPARE(rig.core.pc(), uint16_t(0x100)); // back in the program
    rig.core.step();
    QCOMPARE(rig.core.pc(), uint16_t(0x101)); // one instruction after RETI
    rig.core.step();
    QCOMPARE(rig.core.pc(), uint16_t(0x13)); // then INT1 before I2C: natural order
}

void Mcs51Core::oneInstructionBeforeTheInterrupt_data() {
    QTest::addColumn<std::vector<uint8_t>>("instruction");
    QTest::addColumn<bool>("delays");
    QTest::newRow("RETI") << std::vector<uint8_t>{0x32} << true;
    QTest::newRow("MOV IE,#") << std::vector<uint8_t>{0x75, IE, 0x81} << true;
    QTest::newRow("SETB EA") << std::vector<uint8_t>{0xD2, 0xAF} << true;
    QTest::newRow("MOV IP,#") << std::vector<uint8_t>{0x75, IP, 0x00} << true;
    QTest::newRow("MOV EIE,#") << std::vector<uint8_t>{0x75, EIE, 0x01} << true;
    QTest::newRow("ORL EIP,#") << std::vector<uint8_t>{0x43, EIP, 0x00} << true;
    QTest::newRow("MOV B,#") << std::vector<uint8_t>{0x75, B, 0x01} << false;
    QTest::newRow("MOV EXIF,#") << std::vector<uint8_t>{0x75, EXIF, 0x10} << false;
}

// After RETI or a write to IE, IP, EIE or EIP one more instruction executes
// before a pending interrupt is taken. The instruction under test follows a
// SETB EA (itself a write to IE) while a USB request is pending.
void Mcs51Core::oneInstructionBeforeTheInterrupt() {
    QFETCH(std::vector<uint8_t>, instruction);
    QFETCH(bool, delays);
    Rig rig;
    std::vector<uint8_t> code{0xD2, 0xAF}; // SETB EA
    code.insert(code.end(), instruction.begin(), instruction.end());
    code.push_back(0x00);
    std::copy(code.begin(), code.end(), rig.ram.begin() + 0x100);
    const uint16_t after = uint16_t(0x102 + instruction.size());
    rig.core.setSfr(SP, 0x09); // RETI returns to `after`
    rig.core.setIram(8, uint8_t(after));
    rig.core.setIram(9, uint8_t(after >> 8));
    rig.core.setSfr(EIE, 0xE1);
    rig.core.raiseInterrupt(Interrupt::Usb);
    rig.core.setPc(0x100);
    rig.core.step(); // SETB EA
    QCOMPARE(rig.core.pc(), uint16_t(0x102));
    rig.core.step(); // the instruction: SETB EA delays the interrupt past it
    QCOMPARE(rig.core.pc(), after);
    rig.core.step();
    if (delays) {
        QCOMPARE(rig.core.pc(), uint16_t(after + 1)); // the NOP ran
        rig.core.step();
    }
    QCOMPARE(rig.core.pc(), uint16_t(0x43));
}

void Mcs51Core::flagsClearedOnVectoring_data() {
    QTest::addColumn<Interrupt>("source");
    QTest::addColumn<int>("tcon");
    QTest::addColumn<int>("flagAddress");
    QTest::addColumn<int>("flagMask");
    QTest::addColumn<bool>("cleared");
    using I = Interrupt;
    QTest::newRow("TF0") << I::Timer0 << 0 << int(TCON) << 0x20 << true;
    QTest::newRow("TF1") << I::Timer1 << 0 << int(TCON) << 0x80 << true;
    QTest::newRow("IE0 edge") << I::Int0 << 0x01 << int(TCON) << 0x02 << true;
    QTest::newRow("IE0 level") << I::Int0 << 0x00 << int(TCON) << 0x02 << false;
    QTest::newRow("IE1 edge") << I::Int1 << 0x04 << int(TCON) << 0x08 << true;
    QTest::newRow("IE1 level") << I::Int1 << 0x00 << int(TCON) << 0x08 << false;
    QTest::newRow("TF2") << I::Timer2 << 0 << int(T2CON) << 0x80 << false;
    QTest::newRow("RI_0") << I::Serial0 << 0 << int(SCON0) << 0x01 << false;
    QTest::newRow("USB") << I::Usb << 0 << int(EXIF) << 0x10 << false;
    QTest::newRow("I2C") << I::I2c << 0 << int(EXIF) << 0x20 << false;
    QTest::newRow("INT4") << I::Int4 << 0 << int(EXIF) << 0x40 << false;
    QTest::newRow("INT5") << I::Int5 << 0 << int(EXIF) << 0x80 << false;
    QTest::newRow("INT6") << I::Int6 << 0 << int(EICON) << 0x08 << false;
    QTest::newRow("resume") << I::Resume << 0 << int(EICON) << 0x10 << false;
}

void Mcs51Core::flagsClearedOnVectoring() {
    QFETCH(Interrupt, source);
    QFETCH(int, tcon);
    QFETCH(int, flagAddress);
    QFETCH(int, flagMask);
    QFETCH(bool, cleared);
    Rig rig;
    rig.core.setPc(0x100);
    rig.core.setSfr(TCON, uint8_t(tcon));
    rig.core.setSfr(IE, 0xFF);
    rig.core.setSfr(EIE, 0xFF);
    rig.core.setSfr(EICON, 0x20);
    rig.core.raiseInterrupt(source);
    QVERIFY(rig.core.sfr(uint8_t(flagAddress)) & flagMask);
    rig.core.step();
    QCOMPARE(rig.core.pc(), vectorOf(source));
    QCOMPARE(!(rig.core.sfr(uint8_t(flagAddress)) & flagMask), cleared);
}

void Mcs51Core::timerOverflow_data() {
    QTest::addColumn<int>("tmod");
    QTest::addColumn<int>("ckcon");
    QTest::addColumn<int>("tcon");
    QTest::addColumn<int>("t2con");
    QTest::addColumn<Presets>("preset");
    QTest::addColumn<int>("flagAddress");
    QTest::addColumn<int>("flagMask");
    QTest::addColumn<int>("overflowClock");
    using P = Presets;
    // Counts come every 12 CLKOUT clocks, or every 4 with CKCON's T0M/T1M/T2M.
    QTest::newRow("T0 mode 1 /12")
        << 0x01 << 0x00 << 0x10 << 0 << P{{TL0, 0xF0}, {TH0, 0xFF}} << int(TCON) << 0x20 << 16 * 12;
    QTest::newRow("T0 mode 1 /4") << 0x01 << 0x08 << 0x10 << 0 << P{{TL0, 0xF0}, {TH0, 0xFF}}
                                  << int(TCON) << 0x20 << 16 * 4;
    QTest::newRow("T0 mode 0 (13 bits)")
        << 0x00 << 0x00 << 0x10 << 0 << P{{TL0, 0xFC}, {TH0, 0xFF}} << int(TCON) << 0x20 << 4 * 12;
    QTest::newRow("T0 mode 2") << 0x02 << 0x00 << 0x10 << 0 << P{{TL0, 0xFD}, {TH0, 0x00}}
                               << int(TCON) << 0x20 << 3 * 12;
    QTest::newRow("T0 mode 3, TL0")
        << 0x03 << 0x00 << 0x10 << 0 << P{{TL0, 0xFA}, {TH0, 0x00}} << int(TCON) << 0x20 << 6 * 12;
    QTest::newRow("T0 mode 3, TH0 under TR1 sets TF1")
        << 0x03 << 0x00 << 0x40 << 0 << P{{TL0, 0x00}, {TH0, 0xFE}} << int(TCON) << 0x80 << 2 * 12;
    QTest::newRow("T1 mode 1 /4") << 0x10 << 0x10 << 0x40 << 0 << P{{TL1, 0xFF}, {TH1, 0xFF}}
                                  << int(TCON) << 0x80 << 4;
    QTest::newRow("T1 mode 2 /12") << 0x20 << 0x00 << 0x40 << 0 << P{{TL1, 0x80}, {TH1, 0x80}}
                                   << int(TCON) << 0x80 << 128 * 12;
    QTest::newRow("T2 auto-reload /12")
        << 0 << 0x00 << 0 << 0x04 << P{{TL2, 0xFE}, {TH2, 0xFF}} << int(T2CON) << 0x80 << 2 * 12;
    QTest::newRow("T2 capture /4")
        << 0 << 0x20 << 0 << 0x05 << P{{TL2, 0x00}, {TH2, 0xFF}} << int(T2CON) << 0x80 << 256 * 4;
}

// A timer sets its flag at the exact clock of its overflow count, counting
// from reset; the program meanwhile runs NOPs (4 clocks each).
void Mcs51Core::timerOverflow() {
    QFETCH(int, tmod);
    QFETCH(int, ckcon);
    QFETCH(int, tcon);
    QFETCH(int, t2con);
    QFETCH(Presets, preset);
    QFETCH(int, flagAddress);
    QFETCH(int, flagMask);
    QFETCH(int, overflowClock);
    Rig rig;
    rig.core.setSfr(TMOD, uint8_t(tmod));
    rig.core.setSfr(CKCON, uint8_t(ckcon));
    for (auto [address, value] : preset)
        rig.core.setSfr(address, value);
    rig.core.setSfr(TCON, uint8_t(tcon));
    rig.core.setSfr(T2CON, uint8_t(t2con));
    rig.core.run(uint64_t(overflowClock - 4));
    QCOMPARE(rig.core.clocks(), uint64_t(overflowClock - 4));
    QVERIFY(!(rig.core.sfr(uint8_t(flagAddress)) & flagMask));
    rig.core.run(uint64_t(overflowClock));
    QVERIFY(rig.core.sfr(uint8_t(flagAddress)) & flagMask);
}

void Mcs51Core::timerReload_data() {
    QTest::addColumn<int>("tmod");
    QTest::addColumn<int>("t2con");
    QTest::addColumn<int>("clock");
    QTest::addColumn<int>("low");
    QTest::addColumn<int>("high");
    QTest::addColumn<int>("expectLow");
    QTest::addColumn<int>("expectHigh");
    // Mode 2: TL0 from 0xFE, overflow after 2 counts, reload 0xC0, 5 more.
    QTest::newRow("T0 mode 2 reload")
        << 0x02 << 0 << 7 * 12 << int(TL0) << int(TH0) << 0xC5 << 0xC0;
    // Timer 2 from 0xFFFE, reload 0x1234, 3 more counts after the overflow.
    QTest::newRow("T2 auto-reload") << 0 << 0x04 << 5 * 12 << int(TL2) << int(TH2) << 0x37 << 0x12;
    // Capture mode wraps to zero.
    QTest::newRow("T2 capture wraps")
        << 0 << 0x05 << 5 * 12 << int(TL2) << int(TH2) << 0x03 << 0x00;
}

void Mcs51Core::timerReload() {
    QFETCH(int, tmod);
    QFETCH(int, t2con);
    QFETCH(int, clock);
    QFETCH(int, low);
    QFETCH(int, high);
    QFETCH(int, expectLow);
    QFETCH(int, expectHigh);
    Rig rig;
    rig.core.setSfr(TMOD, uint8_t(tmod));
    rig.core.setSfr(TL0, 0xFE);
    rig.core.setSfr(TH0, 0xC0);
    rig.core.setSfr(TL2, 0xFE);
    rig.core.setSfr(TH2, 0xFF);
    rig.core.setSfr(RCAP2L, 0x34);
    rig.core.setSfr(RCAP2H, 0x12);
    rig.core.setSfr(TCON, t2con ? 0x00 : 0x10);
    rig.core.setSfr(T2CON, uint8_t(t2con));
    rig.core.run(uint64_t(clock));
    QCOMPARE(int(rig.core.sfr(uint8_t(low))), expectLow);
    QCOMPARE(int(rig.core.sfr(uint8_t(high))), expectHigh);
}

// Idle (PCON.0) stops the program, not the clock; an enabled interrupt ends
// it, clears PCON.0, and after RETI the program continues behind the
// instruction that set it.
void Mcs51Core::idleEndsOnInterrupt() {
    Rig rig;
    rig.load(0x0000, {0x43, PCON, 0x01, 0x04, 0x80, 0xFE}); // ORL PCON,#1 ; INC A ; SJMP $
    rig.load(0x0043, {0x53, EXIF, 0xEF, 0x05, B, 0x32});    // ANL EXIF,#EFh ; INC B ; RETI
    rig.core.setSfr(IE, 0x80);
    rig.core.setSfr(EIE, 0xE1);
    rig.core.run(4000);
    QVERIFY(rig.core.idle());
    QCOMPARE(rig.core.clocks(), uint64_t(4000));
    QCOMPARE(rig.core.instructions(), uint64_t(1));
    rig.core.raiseInterrupt(Interrupt::Usb);
    rig.core.run(4100);
    QVERIFY(!rig.core.idle());
    QCOMPARE(rig.core.sfr(PCON) & 0x01, 0);
    QCOMPARE(rig.core.sfr(B), uint8_t(1));
    QCOMPARE(rig.core.sfr(ACC), uint8_t(1));
    QCOMPARE(rig.core.pc(), uint16_t(0x0004));
}

// Timers count in idle, and the timer interrupt ends idle at its overflow.
void Mcs51Core::idleTimerWakesOnTime() {
    Rig rig;
    rig.load(0x0000, {0x43, PCON, 0x01, 0x80, 0xFB}); // ORL PCON,#1 ; SJMP back to it
    rig.load(0x000B, {0x05, B, 0x32});                // INC B ; RETI
    rig.core.setSfr(TMOD, 0x02);
    rig.core.setSfr(TH0, 0x00); // 256 counts of 12 clocks
    rig.core.setSfr(IE, 0x82);
    rig.core.setSfr(TCON, 0x10);
    const uint64_t overflow = 256 * 12;
    rig.core.run(overflow - 4);
    QCOMPARE(rig.core.sfr(B), uint8_t(0));
    QVERIFY(rig.core.idle());
    // At the overflow the 4-cycle call, INC B (2) and RETI (4), then the
    // SJMP (3) and ORL PCON (3) idle it again.
    rig.core.run(overflow + 4 * (4 + 2 + 4 + 3 + 3));
    QCOMPARE(rig.core.sfr(B), uint8_t(1));
    QVERIFY(rig.core.idle());
    rig.core.run(10 * overflow + 4 * (4 + 2 + 4 + 3 + 3));
    QCOMPARE(rig.core.sfr(B), uint8_t(10));
}

// Fetches of an overlaid address see the substitute; the memory, xdata reads
// and the other bytes of the page are unchanged, also after a MOVX write to
// the page.
void Mcs51Core::overlayReplacesFetchedBytesOnly() {
    Rig rig;
    rig.load(0x0040, {0x02, 0x12, 0x34}); // LJMP 1234h
    rig.core.setCodeOverlay(0x0042, 0x80);
    rig.core.setPc(0x0040);
    rig.core.step();
    QCOMPARE(rig.core.pc(), uint16_t(0x1280));
    QCOMPARE(rig.ram[0x42], uint8_t(0x34));

    // MOVX to the page: the new high byte reaches the fetch, the overlaid
    // byte stays substituted.
    rig.load(0x0100, {0x90, 0x00, 0x41, 0x74, 0x13, 0xF0, 0xA3, 0xF0, 0xE0});
    // MOV DPTR,#0041h ; MOV A,#13h ; MOVX @DPTR,A ; INC DPTR ; MOVX @DPTR,A ; MOVX A,@DPTR
    rig.core.setPc(0x0100);
    for (int i = 0; i < 6; ++i)
        rig.core.step();
    QCOMPARE(rig.ram[0x42], uint8_t(0x13));
    QCOMPARE(rig.core.sfr(ACC), uint8_t(0x13)); // xdata reads see memory
    rig.core.setPc(0x0040);
    rig.core.step();
    QCOMPARE(rig.core.pc(), uint16_t(0x1380));

    rig.core.setCodeOverlay(0x0042, -1);
    rig.core.setPc(0x0040);
    rig.core.step();
    QCOMPARE(rig.core.pc(), uint16_t(0x1313));
}

void Mcs51Core::faults_data() {
    QTest::addColumn<uint32_t>("codeSize");
    QTest::addColumn<uint16_t>("pc");
    QTest::addColumn<std::vector<uint8_t>>("code");
    QTest::addColumn<Fault>("fault");
    QTest::newRow("A5") << uint32_t(0x4000) << uint16_t(0x100) << std::vector<uint8_t>{0xA5}
                        << Fault::UndefinedOpcode;
    QTest::newRow("fetch beyond the code")
        << uint32_t(0x4000) << uint16_t(0x4000) << std::vector<uint8_t>{} << Fault::CodeOutOfRange;
    QTest::newRow("operand beyond the code")
        << uint32_t(0x4000) << uint16_t(0x3FFE) << std::vector<uint8_t>{0x02, 0x00}
        << Fault::CodeOutOfRange;
    QTest::newRow("run off the end") << uint32_t(0x0102) << uint16_t(0x0100)
                                     << std::vector<uint8_t>{0x00, 0x00} << Fault::CodeOutOfRange;
    QTest::newRow("last instruction fits")
        << uint32_t(0x0102) << uint16_t(0x0100) << std::vector<uint8_t>{0x80, 0xFE} << Fault::None;
}

void Mcs51Core::faults() {
    QFETCH(uint32_t, codeSize);
    QFETCH(uint16_t, pc);
    QFETCH(std::vector<uint8_t>, code);
    QFETCH(Fault, fault);
    Rig rig;
    std::copy(code.begin(), code.end(), rig.ram.begin() + pc);
    rig.core.setCodeMemory(rig.ram.data(), codeSize);
    rig.core.setPc(pc);
    rig.core.run(1200);
    QCOMPARE(rig.core.fault(), fault);
    if (fault == Fault::None) {
        QCOMPARE(rig.core.clocks(), uint64_t(1200));
        return;
    }
    const uint64_t clocks = rig.core.clocks();
    const uint16_t at = rig.core.faultPc();
    QVERIFY(at >= pc);
    QCOMPARE(rig.core.pc(), at);
    if (fault == Fault::UndefinedOpcode)
        QCOMPARE(clocks, uint64_t(0));
    // The core stays stopped until a reset.
    rig.core.run(2400);
    QCOMPARE(rig.core.clocks(), clocks);
    rig.core.reset();
    QCOMPARE(rig.core.fault(), Fault::None);
}

void Mcs51Core::sfrRouting_data() {
    QTest::addColumn<std::vector<uint8_t>>("code");
    QTest::addColumn<bool>("claimed");
    QTest::addColumn<QString>("busAccesses");
    QTest::addColumn<int>("unknown");
    // IOB (0x90) belongs to the FX2 model, not to the core.
    QTest::newRow("write, unclaimed") << std::vector<uint8_t>{0x75, 0x90, 0x01} << false << "" << 1;
    QTest::newRow("read, unclaimed") << std::vector<uint8_t>{0xE5, 0x90} << false << "" << 1;
    QTest::newRow("write, claimed") << std::vector<uint8_t>{0x75, 0x90, 0x01} << true << "w90" << 0;
    QTest::newRow("ORL reads, then writes")
        << std::vector<uint8_t>{0x43, 0x90, 0x01} << true << "r90 w90" << 0;
    QTest::newRow("SETB bit reads, then writes")
        << std::vector<uint8_t>{0xD2, 0x93} << true << "r90 w90" << 0;
    QTest::newRow("JB only reads") << std::vector<uint8_t>{0x20, 0x93, 0x00} << true << "r90" << 0;
    QTest::newRow("DJNZ reads, then writes")
        << std::vector<uint8_t>{0xD5, 0x90, 0x00} << true << "r90 w90" << 0;
    QTest::newRow("a core SFR is never the bus's")
        << std::vector<uint8_t>{0x75, B, 0x01} << false << "" << 0;
}

void Mcs51Core::sfrRouting() {
    QFETCH(std::vector<uint8_t>, code);
    QFETCH(bool, claimed);
    QFETCH(QString, busAccesses);
    QFETCH(int, unknown);
    Rig rig;
    if (claimed)
        rig.core.claimSfr(0x90);
    std::copy(code.begin(), code.end(), rig.ram.begin() + 0x100);
    rig.core.setPc(0x100);
    rig.core.step();
    QStringList seen;
    for (auto [kind, address] : rig.sfrAccesses)
        seen << QString("%1%2").arg(QChar(kind)).arg(int(address), 2, 16);
    QCOMPARE(seen.join(' '), busAccesses);
    QCOMPARE(rig.core.unknownSfrAccesses(), uint64_t(unknown));
    if (unknown)
        QCOMPARE(rig.core.lastUnknownSfr(), uint8_t(0x90));
}

// During a MOVX callback the clock already counts the whole instruction.
void Mcs51Core::busCallbacksSeeTheEndOfTheInstruction() {
    Rig rig;
    rig.load(0x100, {0x00, 0x90, 0xE6, 0x00, 0xF0}); // NOP ; MOV DPTR,#E600h ; MOVX @DPTR,A
    uint64_t seen = 0;
    rig.onXdataWrite = [&] { seen = rig.core.clocks(); };
    rig.core.setPc(0x100);
    rig.core.run(4 * (1 + 3 + 3));
    QCOMPARE(seen, uint64_t(4 * (1 + 3 + 3))); // MOVX at the reset stretch of 1
}

void Mcs51Core::stopFromCallbackEndsRunAfterTheInstruction() {
    Rig rig;
    rig.load(0x100, {0x90, 0xE6, 0x00, 0xF0, 0x04, 0x80, 0xFD}); // ... MOVX ; INC A ; SJMP
    rig.onXdataWrite = [&] { rig.core.stop(); };
    rig.core.setPc(0x100);
    rig.core.run(1'000'000);
    QCOMPARE(rig.core.pc(), uint16_t(0x104));
    QCOMPARE(rig.core.sfr(ACC), uint8_t(0));
    rig.onXdataWrite = nullptr;
    rig.core.run(rig.core.clocks() + 4 * 4);
    QCOMPARE(rig.core.sfr(ACC), uint8_t(1));
}

void Mcs51Core::semantics_data() {
    QTest::addColumn<std::vector<uint8_t>>("code");
    QTest::addColumn<int>("steps");
    QTest::addColumn<int>("address"); // < 0x100: internal RAM, else SFR address + 0x100
    QTest::addColumn<int>("value");
    using V = std::vector<uint8_t>;
    // Bank switches through bit instructions on PSW.
    QTest::newRow("SETB RS0 then MOV R0") << V{0xD2, 0xD3, 0x78, 0x5A} << 2 << 0x08 << 0x5A;
    QTest::newRow("CPL RS1 then MOV R7") << V{0xB2, 0xD4, 0x7F, 0x5A} << 2 << 0x17 << 0x5A;
    // The parity flag follows the accumulator, writes do not stick.
    QTest::newRow("parity of A") << V{0x74, 0x07} << 1 << 0x100 + PSW << 0x01;
    QTest::newRow("P written 1, A even") << V{0x75, PSW, 0x01} << 1 << 0x100 + PSW << 0x00;
    // DIV by zero: OV set, A and B kept.
    QTest::newRow("DIV by zero, A") << V{0x74, 0x07, 0x84} << 2 << 0x100 + ACC << 0x07;
    QTest::newRow("DIV by zero, OV") << V{0x74, 0x07, 0x84} << 2 << 0x100 + PSW << 0x05;
    // PUSH SP stores the incremented SP.
    QTest::newRow("PUSH SP") << V{0xC0, SP} << 1 << 0x08 << 0x08;
    // POP SP: the popped value wins over the decrement.
    QTest::newRow("POP SP") << V{0x75, 0x07, 0x33, 0xD0, SP} << 2 << 0x100 + SP << 0x33;
    QTest::newRow("DA A after 0x99+0x01")
        << V{0x74, 0x99, 0x24, 0x01, 0xD4} << 3 << 0x100 + ACC << 0x00;
    QTest::newRow("MOV direct,direct order")
        << V{0x75, 0x40, 0x77, 0x85, 0x40, 0x41} << 2 << 0x41 << 0x77;
}

void Mcs51Core::semantics() {
    QFETCH(std::vector<uint8_t>, code);
    QFETCH(int, steps);
    QFETCH(int, address);
    QFETCH(int, value);
    Rig rig;
    std::copy(code.begin(), code.end(), rig.ram.begin() + 0x100);
    rig.core.setPc(0x100);
    for (int i = 0; i < steps; ++i)
        rig.core.step();
    const int got =
        address < 0x100 ? rig.core.iram(uint8_t(address)) : rig.core.sfr(uint8_t(address - 0x100));
    QCOMPARE(got, value);
}

QTEST_GUILESS_MAIN(Mcs51Core)
#include "tst_Mcs51Core.moc"
