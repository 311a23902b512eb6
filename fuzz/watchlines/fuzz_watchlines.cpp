// Watch lines in any script text: parsing either finds channels or throws a
// parse error that points inside the text; every channel found reads back
// from its own line as the same channel, the script with its watch lines
// rewritten gives the same channels again, and values come from any bytes
// read, one for each channel.

#include "Brantle2.h"
#include "FuzzInput.h"
#include "WatchChannel.h"

#include <QString>

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput input(data, size);
    const QByteArray read = input.piece();
    const QString script = QString::fromUtf8(input.rest());

    QList<WatchChannel> channels;
    try {
        channels = WatchLines::parse(script);
    } catch (const ScriptParseError &e) {
        FUZZ_CHECK(e.index >= 0 && e.length >= 0 && e.index + e.length <= script.size());
        return 0;
    }
    for (const WatchChannel &channel : channels) {
        FUZZ_CHECK(channel.firstByte >= 1 && channel.firstByte <= channel.lastByte);
        FUZZ_CHECK(channel.byteCount() <= WatchChannel::MaxBytes);
        FUZZ_CHECK(channel.bytesIndex >= 0 &&
                   channel.bytesIndex + channel.bytesLength <= script.size());
        const QString line = channel.line();
        FUZZ_CHECK(WatchLines::isWatchLine(line));
        const QList<WatchChannel> again = WatchLines::parse(line);
        FUZZ_CHECK(again.size() == 1 && again.first() == channel);
    }
    FUZZ_CHECK(WatchLines::parse(WatchLines::replace(script, channels)) == channels);

    const QList<double> values = WatchLines::values(channels, read);
    FUZZ_CHECK(values.size() == channels.size());
    for (int i = 0; i < channels.size(); ++i) {
        if (channels[i].lastByte > read.size())
            FUZZ_CHECK(std::isnan(values[i]));
    }
    return 0;
}
