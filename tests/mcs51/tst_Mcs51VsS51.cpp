// Random instruction blocks run on our core and on s51 (sdcc-ucsim), an
// independent 8051 simulator; the final PC, internal RAM, the SFRs both
// define, xdata and the cycle count must agree.
//
// What s51 models differently from the FX2, and so is kept out of the blocks
// or out of the comparison:
// - s51 (-t 52, an 8052) has one data pointer and takes the high address byte
//   of MOVX @Ri from P2; the FX2 has DPTR1/DPS and takes it from MPAGE. The
//   blocks never touch DPS, and the test sets P2 in s51 and MPAGE in our core
//   to the same page.
// - Timers, serial port, interrupts and ports differ (and the FX2's SFRs at
//   0x80-0xFF are not the 8052's): the blocks write no SFR but ACC, B, PSW and
//   DPL, and only ACC, B, PSW, SP, DPL and DPH are compared.
// - s51 counts the original 8051's 12-clock machine cycles, we count the
//   FX2's 4-clock cycles. For each block the test sums, over the opcodes our
//   core executed, the classic cycles of the instruction table and compares
//   them with s51's clocks / 12 (so both ran the same path at the same cost),
//   and the FX2 cycles of the same table with our clocks / 4.
#include "InstructionTable.h"
#include "Mcs51Core.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <map>
#include <random>
#include <vector>

namespace {

constexpr int kBatches = 6;
constexpr int kBlocksPerBatch = 400;
constexpr uint16_t kFirstBlock = 0x0800;
constexpr uint16_t kBlockSlot = 0x80;    // blocks never cross a 2 KiB page
constexpr uint16_t kXdataWindow = 0x200; // DPTR stays below, MOVX @Ri uses page 1
constexpr uint8_t kMovxPage = 0x01;

constexpr uint8_t ACC = 0xE0, B = 0xF0, PSW = 0xD0, SP = 0x81, DPL = 0x82, DPH = 0x83, MPAGE = 0x92;

// One instruction, or a short group that sets up what the instruction needs,
// with at most one reference to a later item.
struct Item {
    std::vector<uint8_t> bytes;
    enum Fix { None, Rel8, Addr11, Addr16, Lo8Hi8, Addr16MinusA } fix = None;
    int fixAt = 0;   // byte index of the field to fill in
    int relBase = 0; // Rel8: offset from the item start of the next instruction
    int target = -1; // index of the item jumped to
    uint8_t minusA = 0;
};

class BlockGenerator {
public:
    explicit BlockGenerator(uint32_t seed) : rng_(seed) {}

    std::vector<uint8_t> block(uint16_t start, uint16_t &halt) {
        std::vector<Item> items;
        preamble(items);
        int size = 0;
        for (const Item &i : items)
            size += int(i.bytes.size());
        while (size < 96) {
            const size_t before = items.size();
            randomInstruction(items);
            for (size_t i = before; i < items.size(); ++i)
                size += int(items[i].bytes.size());
        }
        items.push_back({{0x80, 0xFE}}); // SJMP $
        const int haltIndex = int(items.size()) - 1;
        for (Item &i : items)
            if (i.fix != Item::None && i.target < 0)
                i.target = pickTarget(int(&i - items.data()), haltIndex);
        std::vector<uint16_t> address(items.size());
        uint16_t at = start;
        for (size_t i = 0; i < items.size(); ++i) {
            address[i] = at;
            at = uint16_t(at + items[i].bytes.size());
        }
        std::vector<uint8_t> out;
        for (size_t i = 0; i < items.size(); ++i) {
            Item &it = items[i];
            const uint16_t target = it.target >= 0 ? address[size_t(it.target)] : 0;
            switch (it.fix) {
            case Item::Rel8:
                it.bytes[size_t(it.fixAt)] = uint8_t(target - (address[i] + it.relBase));
                break;
            case Item::Addr11:
                it.bytes[0] = uint8_t((it.bytes[0] & 0x1F) | ((target >> 3) & 0xE0));
                it.bytes[1] = uint8_t(target);
                break;
            case Item::Addr16:
                it.bytes[size_t(it.fixAt)] = uint8_t(target >> 8);
                it.bytes[size_t(it.fixAt) + 1] = uint8_t(target);
                break;
            case Item::Lo8Hi8:
                it.bytes[size_t(it.fixAt)] = uint8_t(target);
                it.bytes[size_t(it.fixAt) + 3] = uint8_t(target >> 8);
                break;
            case Item::Addr16MinusA: {
                const uint16_t base = uint16_t(target - it.minusA);
                it.bytes[size_t(it.fixAt)] = uint8_t(base >> 8);
                it.bytes[size_t(it.fixAt) + 1] = uint8_t(base);
                break;
            }
            case Item::None:
                break;
            }
            out.insert(out.end(), it.bytes.begin(), it.bytes.end());
        }
        halt = address.back();
        return out;
    }

private:
    uint8_t byte() { return uint8_t(rng_()); }
    int below(int n) { return int(rng_() % uint32_t(n)); }

    int pickTarget(int from, int halt) { return from + 1 + below(halt - from); }

    uint8_t readableDirect() {
        static const uint8_t sfrs[] = {ACC, B, PSW, SP, DPL, DPH};
        return below(4) ? uint8_t(below(0x80)) : sfrs[below(6)];
    }
    // PSW is written only where the parity bit stays right (see preamble):
    // on the 8051 PSW.0 follows the accumulator, s51 keeps what was written.
    // Nor do bit instructions write RS0/RS1 (PSW.3, PSW.4): s51 does not
    // switch register banks when they change that way.
    uint8_t writableDirect() {
        static const uint8_t sfrs[] = {ACC, B, DPL};
        return below(4) ? uint8_t(below(0x80)) : sfrs[below(3)];
    }
    uint8_t bit(bool written) {
        if (below(2))
            return uint8_t(below(0x80));
        static const uint8_t bytes[] = {ACC, B, PSW};
        const uint8_t b = uint8_t(bytes[below(3)] + below(8));
        static const uint8_t writablePswBits[] = {1, 2, 5, 6, 7};
        return written && (b & 0xF8) == PSW ? uint8_t(PSW + writablePswBits[below(5)]) : b;
    }
    static uint8_t parity(uint8_t v) {
        v ^= uint8_t(v >> 4);
        v ^= uint8_t(v >> 2);
        v ^= uint8_t(v >> 1);
        return v & 1;
    }
    uint16_t windowPointer() { return uint16_t(below(kXdataWindow - 0x20)); }

    void preamble(std::vector<Item> &items) {
        items.push_back({{0x75, SP, uint8_t(0x40 + below(0x30))}});
        const uint16_t dptr = windowPointer();
        items.push_back({{0x90, uint8_t(dptr >> 8), uint8_t(dptr)}});
        const uint8_t a = byte();
        items.push_back({{0x74, a}});
        items.push_back({{0x75, PSW, uint8_t((byte() & 0xFE) | parity(a))}});
        for (int i = 0; i < 3; ++i)
            items.push_back({{uint8_t(0x78 + below(8)), byte()}});
    }

    void randomInstruction(std::vector<Item> &items) {
        uint8_t op;
        do
            op = byte();
        while (op == 0xA5);
        const uint8_t low = op & 0x0F;
        Item it;
        it.bytes.push_back(op);
        auto rel = [&](int at) {
            it.fix = Item::Rel8;
            it.fixAt = at;
            it.bytes.resize(size_t(at) + 1);
            it.relBase = at + 1;
        };
        if ((op & 0x1F) == 0x01 || (op & 0x1F) == 0x11) { // AJMP / ACALL
            it.bytes.push_back(0);
            it.fix = Item::Addr11;
        } else if (op == 0x02 || op == 0x12) {
            it.bytes.resize(3);
            it.fix = Item::Addr16;
            it.fixAt = 1;
        } else if (op == 0x22 || op == 0x32) {
            // RET/RETI to a later item: push its address first.
            const uint8_t lo = uint8_t(0x30 + below(8)), hi = uint8_t(0x38 + below(8));
            it.bytes = {0x75, lo, 0, 0x75, hi, 0, 0xC0, lo, 0xC0, hi, op};
            it.fix = Item::Lo8Hi8;
            it.fixAt = 2;
        } else if (op == 0x73) {
            // JMP @A+DPTR to the next item, which puts DPTR back in the window.
            const uint8_t a = byte();
            it.bytes = {0x74, a, 0x90, 0, 0, 0x73};
            it.fix = Item::Addr16MinusA;
            it.fixAt = 3;
            it.minusA = a;
            it.target = int(items.size()) + 1;
            items.push_back(it);
            const uint16_t dptr = windowPointer();
            items.push_back({{0x90, uint8_t(dptr >> 8), uint8_t(dptr)}});
            return;
        } else if (op == 0x90) {
            const uint16_t dptr = windowPointer();
            it.bytes = {op, uint8_t(dptr >> 8), uint8_t(dptr)};
        } else if (op == 0x40 || op == 0x50 || op == 0x60 || op == 0x70 || op == 0x80 ||
                   (op >= 0xD8 && op <= 0xDF)) {
            rel(1);
        } else if (op == 0x10 || op == 0x20 || op == 0x30) {
            it.bytes.push_back(bit(op == 0x10));
            rel(2);
        } else if (op == 0xB4 || (op >= 0xB6 && op <= 0xBF)) {
            it.bytes.push_back(byte());
            rel(2);
        } else if (op == 0xB5) {
            it.bytes.push_back(readableDirect());
            rel(2);
        } else if (op == 0xD5) {
            it.bytes.push_back(writableDirect());
            rel(2);
        } else if (op == 0x43 || op == 0x53 || op == 0x63 || op == 0x75) {
            it.bytes.push_back(writableDirect());
            it.bytes.push_back(byte());
        } else if (op == 0x85) {
            it.bytes.push_back(readableDirect());
            it.bytes.push_back(writableDirect());
        } else if (op == 0x82 || op == 0xB0 || op == 0x72 || op == 0xA0 || op == 0xA2) {
            it.bytes.push_back(bit(false));
        } else if (op == 0x92 || op == 0xB2 || op == 0xC2 || op == 0xD2) {
            it.bytes.push_back(bit(true));
        } else if (op == 0x24 || op == 0x34 || op == 0x44 || op == 0x54 || op == 0x64 ||
                   op == 0x74 || op == 0x94 || (op >= 0x76 && op <= 0x7F)) {
            it.bytes.push_back(byte());
        } else if (op == 0x05 || op == 0x15 || op == 0x42 || op == 0x52 || op == 0x62 ||
                   op == 0xC5 || op == 0xF5 || op == 0x86 || op == 0x87 ||
                   (op >= 0x88 && op <= 0x8F) || op == 0xD0) {
            it.bytes.push_back(writableDirect());
        } else if (low == 0x05 || op == 0xA6 || op == 0xA7 || (op >= 0xA8 && op <= 0xAF) ||
                   op == 0xC0) {
            it.bytes.push_back(readableDirect());
        }
        items.push_back(it);
    }

    std::mt19937 rng_;
};

class FlatBus : public mcs51::Bus {
public:
    uint8_t readXdata(uint16_t) override { return 0; }
    void writeXdata(uint16_t, uint8_t) override {}
    uint8_t readSfr(uint8_t) override { return 0; }
    void writeSfr(uint8_t, uint8_t) override {}
};

std::string ihex(const std::vector<uint8_t> &image) {
    std::string out;
    char line[80];
    for (size_t a = 0; a < image.size(); a += 16) {
        unsigned sum = 16 + (a >> 8) + (a & 0xFF);
        int n = std::snprintf(line, sizeof line, ":10%04X00", unsigned(a));
        for (size_t i = 0; i < 16; ++i) {
            sum += image[a + i];
            n += std::snprintf(line + n, sizeof line - size_t(n), "%02X", image[a + i]);
        }
        std::snprintf(line + n, sizeof line - size_t(n), "%02X\n", (-sum) & 0xFF);
        out += line;
    }
    return out + ":00000001FF\n";
}

struct S51State {
    uint16_t pc = 0;
    uint64_t clocks = 0;
    uint8_t iram[256] = {};
    uint8_t sfr[128] = {};
    uint8_t xdata[kXdataWindow] = {};
};

// Parses one "0xADDR xx xx ..." line of a hexadecimal dump into `memory`.
bool parseDumpLine(const QByteArray &line, uint8_t *memory, unsigned base, unsigned size) {
    const QList<QByteArray> words = line.simplified().split(' ');
    if (words.size() < 2 || !words[0].startsWith("0x"))
        return false;
    bool ok;
    unsigned address = words[0].mid(2).toUInt(&ok, 16);
    if (!ok)
        return false;
    for (int i = 1; i < words.size(); ++i) {
        if (words[i].size() != 2)
            break;
        const unsigned v = words[i].toUInt(&ok, 16);
        if (!ok)
            break;
        if (address >= base && address - base < size)
            memory[address - base] = uint8_t(v);
        ++address;
    }
    return true;
}

constexpr int kMarker = 7000000;

} // namespace

class Mcs51VsS51 : public QObject {
    Q_OBJECT

private slots:
    void randomBlocksAgree();
};

void Mcs51VsS51::randomBlocksAgree() {
    const QString s51 = QStandardPaths::findExecutable("s51");
    if (s51.isEmpty())
        QFAIL("s51 is not installed (package sdcc-ucsim, see scripts/bootstrap)");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // To reproduce a disagreement by hand: images and s51 command files stay.
    if (qEnvironmentVariableIsSet("MCS51_S51_KEEP")) {
        dir.setAutoRemove(false);
        qWarning() << "s51 batches kept in" << dir.path();
    }

    const auto table = instruction_table::byOpcode();
    int blocksCompared = 0;
    QStringList mismatches;
    std::map<uint8_t, int> executedOpcodes;

    for (int batch = 0; batch < kBatches; ++batch) {
        BlockGenerator gen(0x51u * 1000u + uint32_t(batch));
        std::vector<uint8_t> image(0x10000, 0);
        std::mt19937 filler{uint32_t(batch)};
        // Data for MOVC below the blocks.
        for (unsigned a = 0; a < kFirstBlock; ++a)
            image[a] = uint8_t(filler());
        std::vector<uint16_t> starts, halts;
        for (int k = 0; k < kBlocksPerBatch; ++k) {
            const uint16_t start = uint16_t(kFirstBlock + k * kBlockSlot);
            uint16_t halt;
            const std::vector<uint8_t> code = gen.block(start, halt);
            QVERIFY(code.size() <= kBlockSlot);
            std::copy(code.begin(), code.end(), image.begin() + start);
            starts.push_back(start);
            halts.push_back(halt);
        }
        const QString hexPath = dir.filePath(QString("batch%1.hex").arg(batch));
        QFile hex(hexPath);
        QVERIFY(hex.open(QIODevice::WriteOnly));
        hex.write(QByteArray::fromStdString(ihex(image)));
        hex.close();

        QByteArray commands = "fill iram 0 0xff 0\nfill xram 0 0xffff 0\n";
        commands += QByteArray("set memory sfr 0xa0 ") + QByteArray::number(kMovxPage) + "\n";
        for (int k = 0; k < kBlocksPerBatch; ++k) {
            const int mark = kMarker + k * 10;
            commands += QString("run 0x%1 0x%2\nstate\n")
                            .arg(starts[size_t(k)], 0, 16)
                            .arg(halts[size_t(k)], 0, 16)
                            .toLatin1();
            commands += QString("expr /d %1\ndump /h iram 0 0xff 16\n").arg(mark + 1).toLatin1();
            commands += QString("expr /d %1\ndump /h sfr 0x80 0xff 16\n").arg(mark + 2).toLatin1();
            commands += QString("expr /d %1\ndump /h xram 0 0x%2 16\nexpr /d %3\n")
                            .arg(mark + 3)
                            .arg(kXdataWindow - 1, 0, 16)
                            .arg(mark + 4)
                            .toLatin1();
        }
        // Commands from a file through "exec" come back in order, each echoed
        // on a line of its own; piped straight in, s51 interleaves its echo
        // with the answers.
        const QString commandPath = dir.filePath(QString("batch%1.cmd").arg(batch));
        QFile commandFile(commandPath);
        QVERIFY(commandFile.open(QIODevice::WriteOnly));
        commandFile.write(commands);
        commandFile.close();

        QProcess process;
        process.setProcessChannelMode(QProcess::SeparateChannels);
        process.start(s51, {"-t", "52", "-b", hexPath});
        QVERIFY(process.waitForStarted());
        process.write(QString("exec \"%1\"\nquit\n").arg(commandPath).toLocal8Bit());
        process.closeWriteChannel();
        QVERIFY2(process.waitForFinished(120000), "s51 did not finish");
        const QByteArray output = process.readAllStandardOutput();
        const QList<QByteArray> lines = output.split('\n');

        std::vector<S51State> results{size_t(kBlocksPerBatch)};
        int block = -1, section = 0;
        for (const QByteArray &raw : lines) {
            const QByteArray line = raw.trimmed();
            bool isNumber;
            const int number = line.toInt(&isNumber);
            if (isNumber && number >= kMarker) {
                block = (number - kMarker) / 10;
                section = (number - kMarker) % 10;
                continue;
            }
            if (line.startsWith("CPU state=")) {
                // The state of the block after the last marker of the previous one.
                const int current = section == 4 || block < 0 ? block + 1 : block;
                const int pcAt = line.indexOf("PC=");
                results[size_t(current)].pc =
                    uint16_t(line.mid(pcAt + 3).simplified().split(' ')[0].toUInt(nullptr, 16));
                continue;
            }
            if (line.startsWith("Total time since last reset=")) {
                const int open = line.lastIndexOf('('), end = line.lastIndexOf(" clks");
                const int current = section == 4 || block < 0 ? block + 1 : block;
                results[size_t(current)].clocks = line.mid(open + 1, end - open - 1).toULongLong();
                continue;
            }
            if (block < 0 || section == 4)
                continue;
            S51State &r = results[size_t(block)];
            if (section == 1)
                parseDumpLine(line, r.iram, 0, 256);
            else if (section == 2)
                parseDumpLine(line, r.sfr, 0x80, 128);
            else if (section == 3)
                parseDumpLine(line, r.xdata, 0, kXdataWindow);
        }
        QCOMPARE(block, kBlocksPerBatch - 1);

        // Our core over the same image, block by block, from the same state.
        FlatBus bus;
        mcs51::Core core(bus);
        std::vector<uint8_t> xdata(0x10000, 0);
        core.setCodeMemory(image.data(), uint32_t(image.size()));
        for (unsigned p = 0; p < 256; ++p)
            core.mapXdataPage(uint8_t(p), xdata.data() + p * 256);
        core.setSfr(0x8E, 0x00); // CKCON: MOVX without stretch, as in the table
        core.setSfr(MPAGE, kMovxPage);
        for (unsigned a = 0; a < 256; ++a)
            core.setIram(uint8_t(a), 0);
        core.setSfr(SP, 0x07);

        uint64_t s51Before = 0;
        for (int k = 0; k < kBlocksPerBatch; ++k) {
            const S51State &expect = results[size_t(k)];
            const uint64_t clocksBefore = core.clocks();
            unsigned classic = 0, fx2 = 0;
            core.setPc(starts[size_t(k)]);
            int steps = 0;
            while (core.pc() != halts[size_t(k)] && steps < 1000 &&
                   core.fault() == mcs51::Fault::None) {
                const uint8_t op = image[core.pc()];
                ++executedOpcodes[op];
                QVERIFY(table[op].row);
                classic += table[op].row->classicCycles;
                fx2 += table[op].row->fx2Cycles;
                core.step();
                ++steps;
            }
            const uint64_t s51Cycles = (expect.clocks - s51Before) / 12;
            s51Before = expect.clocks;
            ++blocksCompared;

            QStringList diffs;
            if (core.pc() != expect.pc)
                diffs << QString("PC %1 vs s51 %2").arg(core.pc(), 0, 16).arg(expect.pc, 0, 16);
            for (unsigned a = 0; a < 256; ++a)
                if (core.iram(uint8_t(a)) != expect.iram[a])
                    diffs << QString("iram[%1] %2 vs %3")
                                 .arg(a, 2, 16, QChar('0'))
                                 .arg(core.iram(uint8_t(a)), 2, 16, QChar('0'))
                                 .arg(expect.iram[a], 2, 16, QChar('0'));
            for (uint8_t a : {ACC, B, PSW, SP, DPL, DPH})
                if (core.sfr(a) != expect.sfr[a - 0x80])
                    diffs << QString("sfr[%1] %2 vs %3")
                                 .arg(a, 2, 16)
                                 .arg(core.sfr(a), 2, 16, QChar('0'))
                                 .arg(expect.sfr[a - 0x80], 2, 16, QChar('0'));
            for (unsigned a = 0; a < kXdataWindow; ++a)
                if (xdata[a] != expect.xdata[a])
                    diffs << QString("xdata[%1] %2 vs %3")
                                 .arg(a, 3, 16, QChar('0'))
                                 .arg(xdata[a], 2, 16, QChar('0'))
                                 .arg(expect.xdata[a], 2, 16, QChar('0'));
            if (classic != s51Cycles)
                diffs << QString("classic cycles %1 vs s51 %2").arg(classic).arg(s51Cycles);
            if (core.clocks() - clocksBefore != 4u * fx2)
                diffs << QString("FX2 clocks %1, table says %2")
                             .arg(core.clocks() - clocksBefore)
                             .arg(4u * fx2);
            if (!diffs.isEmpty()) {
                mismatches << QString("batch %1 block %2 at %3: %4")
                                  .arg(batch)
                                  .arg(k)
                                  .arg(starts[size_t(k)], 4, 16, QChar('0'))
                                  .arg(diffs.mid(0, 6).join(", "));
                // Carry on from s51's state so one fault is reported once.
                for (unsigned a = 0; a < 256; ++a)
                    core.setIram(uint8_t(a), expect.iram[a]);
                for (uint8_t a : {ACC, B, PSW, SP, DPL, DPH})
                    core.setSfr(a, expect.sfr[a - 0x80]);
                std::copy(expect.xdata, expect.xdata + kXdataWindow, xdata.begin());
            }
        }
    }
    for (const QString &m : mismatches.mid(0, 20))
        qWarning().noquote() << m;
    QVERIFY2(
        mismatches.isEmpty(),
        qPrintable(QString("%1 of %2 blocks differ").arg(mismatches.size()).arg(blocksCompared)));
    QCOMPARE(blocksCompared, kBatches * kBlocksPerBatch);
    // Every defined opcode ran somewhere.
    QCOMPARE(int(executedOpcodes.size()), 255);
}

QTEST_GUILESS_MAIN(Mcs51VsS51)
#include "tst_Mcs51VsS51.moc"
