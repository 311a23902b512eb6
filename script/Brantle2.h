#ifndef BRANTLE_BRANTLE2_H
#define BRANTLE_BRANTLE2_H

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <climits>

// A script error as `convert` throws it: the translated
// "Parse Error: Index=%1, Length=%2, %3" text, which callers that only know
// QString catch as such, plus the faulty span and the bare message, which
// callers that want them read without having to parse a translated text.
class ScriptParseError : public QString {
public:
    ScriptParseError(const QString &text, int index, int length, const QString &message)
        : QString(text), index(index), length(length), message(message) {}
    int index;
    int length;
    QString message; // the message after the prefix, as translated
};

// The longest prefix that all `texts` share: how the catalogue in force
// translated the leading words ("Parse Error: ", "Error: ") of a family of
// messages.
QString sharedPrefix(const QStringList &texts);

// Converts a script into the adapter's command stream (Compile) and a result
// stream back into script text (Render). One object serves one send: a
// Compile run, then a Render run over the same text.
class Brantle2 : public QObject {
    Q_OBJECT
public:
    enum Mode { Compile = 0, Render = 1 };
    enum State {
        WaitingStart = 0,
        WaitingAddress = 1,
        Writing = 2,
        ReadAddressed = 3,
        Reading = 4
    };
    enum Event { EventStart = 0, EventStop = 1, EventData = 2 };

    // The longest script convert() takes, in UTF-16 units. Positions in the
    // text are ints, and a stream can take two bytes per character of its
    // script ("00;" compiles to six), so both stay well below INT_MAX.
    static constexpr qsizetype MaxScriptLength = (INT_MAX - 16) / 2;

    Brantle2();

    // Throws ScriptParseError for a script error, a QString for anything else.
    void convert(QString &text, int mode, QByteArray &stream);

    // What every script message begins with under the catalogue in force
    // ("Parse Error: " in English).
    static QString messagePrefix();

    int clock = 1;     // 0 selects 100 kHz, anything else 400 kHz
    bool mode = false; // true while rendering
    int state = WaitingStart;
    // A longer script is refused as a parse error at index 0; never above
    // MaxScriptLength.
    qsizetype lengthLimit = MaxScriptLength;

    void openStream(QByteArray &stream);
    void clockCode(QByteArray &stream);
    void startCondition(QByteArray &stream);
    void stopCondition(QByteArray &stream);
    void dataByte(QByteArray &stream, int value);
    void waitCommand(QByteArray &stream, quint16 count);
    void sequence(QByteArray &stream, int event, int value);

private:
    void run(QString &text, QByteArray &stream);
    void failAtCharacter(const QString &text, int at);
    void byteStep(QString &text, QByteArray &stream);
    void waitStep(const QString &text, QByteArray &stream, int lastClose);
    void emitBytes(QByteArray &stream, const char *bytes, int count);
    void skip(const QByteArray &stream, int count);
    void rewriteByte(QString &text, const QByteArray &stream);

    int pos = 0;
    QString token;
    int m_readIndex = 0; // Render: bytes of the result stream consumed so far
};

#endif
