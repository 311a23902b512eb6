#ifndef BRANTLE_VALUEPLOT_H
#define BRANTLE_VALUEPLOT_H

#include <QColor>
#include <QList>
#include <QPointF>
#include <QRect>
#include <QStringList>
#include <QWidget>

#include <vector>

// A plot of values over time, drawn with QPainter: one line per series, one
// value axis per unit (scaled to the values given), a clock-time axis along
// the bottom and a legend on top. It draws what it is given and nothing else;
// the caller thins the values and splits them where there are none, so a gap
// is never bridged by a line.
class ValuePlot : public QWidget {
    Q_OBJECT
public:
    struct Series {
        QString name;
        QString unit;
        QColor colour;
        // x: ms since the epoch, y: the value. Each segment is one unbroken
        // line; the space between two segments is a gap.
        std::vector<QList<QPointF>> segments;
    };

    // One value axis, as laid out for the last data given.
    struct Axis {
        QString unit;
        double low = 0.0;
        double high = 1.0;
        QList<double> ticks;
        QStringList labels;
        bool left = true;
    };

    explicit ValuePlot(QWidget *parent = nullptr);

    // Replaces everything drawn: the series and the time span shown.
    void setData(std::vector<Series> series, qint64 startMs, qint64 endMs);

    const std::vector<Series> &series() const { return m_series; }
    const QList<Axis> &valueAxes() const { return m_axes; }
    QList<qint64> timeTicks() const { return m_timeTicks; }
    QStringList timeLabels() const { return m_timeLabels; }
    qint64 startMs() const { return m_startMs; }
    qint64 endMs() const { return m_endMs; }
    // Where the lines go, in widget coordinates; its width is the number of
    // pixel columns worth keeping a value for.
    QRect plotRect() const { return m_plotRect; }

    QSize minimumSizeHint() const override { return QSize(320, 160); }
    QSize sizeHint() const override { return QSize(640, 240); }

    // The step between ticks for about `wanted` ticks over `span`: 1, 2, 2.5
    // or 5 times a power of ten.
    static double niceStep(double span, int wanted);
    // The digits after the point a tick step needs to tell ticks apart.
    static int decimalsFor(double step);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void relayout();
    void layoutLegend();
    void layoutValueAxes(int plotHeight);
    void layoutTimeAxis();
    double yFor(const Axis &axis, double value) const;
    double xFor(double ms) const;

    std::vector<Series> m_series;
    qint64 m_startMs = 0;
    qint64 m_endMs = 0;

    QList<Axis> m_axes;
    QList<int> m_axisWidths;
    QList<qint64> m_timeTicks;
    QStringList m_timeLabels;
    QList<QRect> m_legendRects; // one per series: swatch and name
    QRect m_plotRect;
};

#endif
