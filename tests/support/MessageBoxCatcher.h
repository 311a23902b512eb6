#ifndef BRANTLE_TESTS_MESSAGEBOXCATCHER_H
#define BRANTLE_TESTS_MESSAGEBOXCATCHER_H

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

// Answers every modal message box that opens while it lives, remembering the
// last one's title and text, so that tests of code that reports through
// message boxes do not block.
class MessageBoxCatcher {
public:
    MessageBoxCatcher() {
        m_timer.setInterval(0);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            title = box->windowTitle();
            text = box->text();
            icon = box->icon();
            ++count;
            box->done(QMessageBox::Ok);
        });
        m_timer.start();
    }

    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int count = 0;

private:
    QTimer m_timer;
};

#endif
