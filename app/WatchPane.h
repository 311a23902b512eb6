#ifndef BRANTLE_WATCHPANE_H
#define BRANTLE_WATCHPANE_H

#include "WatchChannel.h"

#include <QDateTime>
#include <QDockWidget>
#include <QPointF>
#include <QTimer>

#include <deque>
#include <vector>

class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;
class ValuePlot;

// The dock that watches the channels of the script's watch lines: a table of
// the channels (edited here, written back into the script as watch lines)
// with the last value of each, and a live plot of the values over a time
// window, one axis per unit. A send that gave no value leaves a gap.
//
// Samples are kept for the longest window (an hour) and drawn at most ten
// times a second, thinned to two points per pixel column, so that a send
// every 20 ms costs the GUI thread little however long the window.
class WatchPane : public QDockWidget {
    Q_OBJECT
public:
    explicit WatchPane(QWidget *parent = nullptr);

    // The channels the script defines now; `problem` says why the table may
    // be stale (a malformed watch line), empty when all is well.
    void setChannels(const QList<WatchChannel> &channels, const QString &problem = QString());
    const QList<WatchChannel> &channels() const { return m_channels; }

    // One send's values (NaN where it gave none) for the channels titled.
    void addSample(const QDateTime &time, const QStringList &titles, const QList<double> &values);
    void clear();

    // The time window in seconds, 10 to 3600.
    void setWindowSeconds(int seconds);
    bool isPaused() const;
    // Redraws the plot from the samples now, as the refresh timer does.
    void refresh();
    // How many points the plot draws for `title`, and where the gaps fall
    // (the number of unbroken line pieces).
    int drawnPoints(const QString &title) const;
    int drawnPieces(const QString &title) const;
    bool savePlot(const QString &path) const;

    QTableWidget *tableWidgetChannels;
    ValuePlot *valuePlot;
    QComboBox *comboBoxWindow;
    QPushButton *pushButtonPause;
    QPushButton *pushButtonClear;
    QPushButton *pushButtonSavePlot;
    QPushButton *pushButtonAdd;
    QPushButton *pushButtonRemove;
    QLabel *labelProblem;

signals:
    // The user changed the channels in the table.
    void channelsEdited(const QList<WatchChannel> &channels);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Trace {
        QString title;
        QString unit;
        std::deque<QPointF> points; // x: ms since the epoch; y: NaN for a gap
    };

    Trace &trace(const QString &title);
    void fillTable();
    void tableEdited();
    void scheduleRefresh();
    void savePlotClicked();
    void setRow(int row, const WatchChannel &channel);
    QString lastText(const QString &title) const;

    QList<WatchChannel> m_channels;
    std::vector<Trace> m_traces;
    QTimer m_refresh;
    int m_windowSeconds = 60;
    qint64 m_newestMs = 0;
    bool m_filling = false;
};

#endif
