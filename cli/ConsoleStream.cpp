#include "ConsoleStream.h"

#ifdef Q_OS_WIN
#include <QStringDecoder>

#include <windows.h>

namespace {

// Takes the stream's UTF-8 and hands it to the console as UTF-16. The
// decoder keeps a character that was split between two writes.
class ConsoleDevice : public QIODevice {
public:
    explicit ConsoleDevice(HANDLE console) : m_console(console) {}

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 length) override {
        const QString text = m_decoder.decode(QByteArrayView(data, length));
        const auto *units = reinterpret_cast<const wchar_t *>(text.utf16());
        qsizetype done = 0;
        while (done < text.size()) {
            DWORD written = 0;
            if (!WriteConsoleW(m_console, units + done, DWORD(text.size() - done), &written,
                               nullptr) ||
                written == 0)
                return -1;
            done += written;
        }
        return length;
    }

private:
    HANDLE m_console;
    QStringDecoder m_decoder{QStringConverter::Utf8};
};

HANDLE consoleOf(FILE *stream) {
    const HANDLE handle = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode))
        return nullptr;
    return handle;
}

} // namespace
#endif

ConsoleStream::ConsoleStream(FILE *stream) {
#ifdef Q_OS_WIN
    if (const HANDLE console = consoleOf(stream)) {
        std::fflush(stream);
        m_console = std::make_unique<ConsoleDevice>(console);
        m_console->open(QIODevice::WriteOnly | QIODevice::Unbuffered);
        setDevice(m_console.get());
        setEncoding(QStringConverter::Utf8);
        return;
    }
#endif
    (void)m_file.open(stream, QIODevice::WriteOnly);
    setDevice(&m_file);
    setEncoding(QStringConverter::System);
}

ConsoleStream::~ConsoleStream() {
    flush();
    setDevice(nullptr);
}
