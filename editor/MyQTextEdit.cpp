#include "MyQTextEdit.h"

#include "FileSaver.h"
#include "TextEncoding.h"
#include "TextFile.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFont>
#include <QMessageBox>
#include <QMimeData>
#include <QScrollBar>
#include <QTextStream>

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
    if (!file.open(QIODevice::ReadOnly)) {
        showFileError(tr("Cannot open file for reading: %1").arg(file.errorString()));
        return;
    }
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        showFileError(tr("Cannot open file for reading: %1").arg(file.errorString()));
        return;
    }
    setPlainText(decodeTextFile(std::move(bytes)));
    document()->setModified(false);
}

void MyQTextEdit::saveFile(QString path) {
    QString text = toPlainText();
#ifdef Q_OS_WIN
    text.replace(u'\n', QLatin1String("\r\n"));
#endif
    bool lost = false;
    const QByteArray bytes = TextEncoding::encode(text, &lost);
    // Windows' code pages hold far fewer characters than the editor: a
    // character it cannot hold would be saved as another one.
    if (lost) {
        showFileError(tr("Cannot save the text in this system's encoding (%1): it cannot hold the "
                         "character \"%2\". Nothing was written.")
                          .arg(TextEncoding::systemName(), TextEncoding::firstUnencodable(text)));
        return;
    }
    QString error;
    if (FileSaver::save(path, bytes, &error))
        document()->setModified(false);
    else
        showFileError(tr("Cannot open file for writing: %1").arg(error));
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
