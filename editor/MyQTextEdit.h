#ifndef BRANTLE_MYQTEXTEDIT_H
#define BRANTLE_MYQTEXTEDIT_H

#include <QTextEdit>

// The editor of both panes: a fixed-pitch font so that the script and the
// result line up character for character, whole-file load and save, files
// dropped onto it, and a notification with the absolute scroll position on
// every scroll so that the other pane can follow.
class MyQTextEdit : public QTextEdit {
    Q_OBJECT
public:
    explicit MyQTextEdit(QWidget *parent = nullptr);

    // Both leave the document unmodified when they succeed: its text is then
    // the file's.
    void loadFile(QString path);
    void saveFile(QString path);

signals:
    void scrolled(int x, int y);

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void showFileError(const QString &text);
};

#endif
