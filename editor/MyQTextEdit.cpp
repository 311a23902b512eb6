#include "MyQTextEdit.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QMessageBox>
#include <QMimeData>
#include <QSaveFile>
#include <QScrollBar>
#include <QTextStream>

#include <memory>

namespace {

// The faces the Windows build names do not exist elsewhere. Map them to
// fixed-pitch faces that also carry Japanese glyphs (IPAGothic's half-width
// Latin is fixed pitch), so both panes keep one character grid.
void substituteWindowsFaces() {
    static const bool done = [] {
        const QStringList faces = {QStringLiteral("IPAGothic"),
                                   QStringLiteral("Noto Sans Mono CJK JP"),
                                   QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Monospace")};
        QFont::insertSubstitutions(QStringLiteral("MS Gothic"), faces);
        QFont::insertSubstitutions(QStringLiteral("MS UI Gothic"), faces);
        return true;
    }();
    Q_UNUSED(done);
}

} // namespace

MyQTextEdit::MyQTextEdit(QWidget *parent) : QTextEdit(parent) {
    substituteWindowsFaces();
    QFont font(QStringLiteral("MS Gothic"), 9);
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    setFont(font);
}

void MyQTextEdit::showFileError(const QString &text) {
    QMessageBox::critical(this, tr("File Open Error"), text, QMessageBox::Ok);
}

void MyQTextEdit::loadFile(QString path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        showFileError(tr("Cannot open file for reading: %1").arg(file.errorString()));
        return;
    }
    QTextStream in(&file);
    in.setEncoding(QStringConverter::System);
    setPlainText(in.readAll());
}

void MyQTextEdit::saveFile(QString path) {
    // A regular file is replaced only once the whole text is on disk: a full
    // disk or a failing write must leave the user's old file as it was.
    // Anything else (a device, a pipe) cannot be replaced by renaming and is
    // written in place.
    const QFileInfo info(path);
    std::unique_ptr<QFileDevice> file;
    QSaveFile *saveFile = nullptr;
    if (!info.exists() || info.isFile()) {
        saveFile = new QSaveFile(path);
        file.reset(saveFile);
    } else {
        file = std::make_unique<QFile>(path);
    }
    if (!file->open(QIODevice::WriteOnly | QIODevice::Text)) {
        showFileError(tr("Cannot open file for writing: %1").arg(file->errorString()));
        return;
    }
    QTextStream out(file.get());
    out.setEncoding(QStringConverter::System);
    out << toPlainText();
    out.flush();
    bool written = out.status() == QTextStream::Ok && file->error() == QFileDevice::NoError;
    if (saveFile) {
        if (written)
            written = saveFile->commit();
        else
            saveFile->cancelWriting();
    } else {
        file->close();
        written = written && file->error() == QFileDevice::NoError;
    }
    if (!written)
        showFileError(tr("Cannot open file for writing: %1").arg(file->errorString()));
}

void MyQTextEdit::dragEnterEvent(QDragEnterEvent *event) {
    if (event->mimeData()->hasFormat(QStringLiteral("text/uri-list")))
        event->acceptProposedAction();
}

void MyQTextEdit::dragMoveEvent(QDragMoveEvent *) {
    // The answer given on entering holds for the whole drag; no drop caret.
}

void MyQTextEdit::dropEvent(QDropEvent *event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.isEmpty())
        return;
    const QString path = urls.first().toLocalFile();
    if (path.isEmpty())
        return;
    loadFile(path);
}

void MyQTextEdit::scrollContentsBy(int dx, int dy) {
    QTextEdit::scrollContentsBy(dx, dy);
    emit scrolled(horizontalScrollBar()->value(), verticalScrollBar()->value());
}
