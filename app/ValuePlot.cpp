#include "ValuePlot.h"

#include <QDateTime>
#include <QEvent>
#include <QPainter>
#include <QPolygonF>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

const int margin = 6;
const int tickLength = 4;
const int labelGap = 3;
const int swatchLength = 18;

// The steps the time axis may take: round numbers of a clock.
const qint64 timeSteps[] = {1000,    2000,    5000,        10000,       15000,        30000,
                            60000,   120000,  300000,      600000,      900000,       1800000,
                            3600000, 7200000, 4 * 3600000, 6 * 3600000, 12 * 3600000, 24 * 3600000};

QString tickLabel(double value, double step, int decimals, double largest) {
    // Ticks are multiples of the step; what is left of zero is rounding.
    if (std::abs(value) < step * 1e-6)
        value = 0.0;
    if (decimals > 6 || largest >= 1e9)
        return QString::number(value, 'g', 6);
    return QString::number(value, 'f', decimals);
}

} // namespace

ValuePlot::ValuePlot(QWidget *parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setBackgroundRole(QPalette::Base);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    relayout();
}

void ValuePlot::setData(std::vector<Series> series, qint64 startMs, qint64 endMs) {
    m_series = std::move(series);
    m_startMs = startMs;
    m_endMs = qMax(endMs, startMs + 1);
    relayout();
    update();
}

double ValuePlot::niceStep(double span, int wanted) {
    if (!(span > 0.0) || !std::isfinite(span) || wanted < 1)
        return 1.0;
    const double raw = span / wanted;
    const double base = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 2.5, 5.0})
        if (m * base >= raw * (1 - 1e-9))
            return m * base;
    return 10.0 * base;
}

int ValuePlot::decimalsFor(double step) {
    if (!(step > 0.0) || !std::isfinite(step))
        return 0;
    int decimals = 0;
    double scaled = step;
    while (decimals < 12 && std::abs(scaled - std::round(scaled)) > 1e-6 * scaled) {
        ++decimals;
        scaled *= 10.0;
    }
    return decimals;
}

void ValuePlot::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    relayout();
}

void ValuePlot::changeEvent(QEvent *event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        relayout();
}

void ValuePlot::relayout() {
    const QFontMetrics fm = fontMetrics();
    layoutLegend();
    int top = margin;
    for (const QRect &r : std::as_const(m_legendRects))
        top = qMax(top, r.bottom() + 1);
    if (!m_legendRects.isEmpty())
        top += 4;
    // The units' titles stand above their axes.
    const int plotTop = top + fm.height() + 4;
    const int plotBottom = height() - 1 - margin - fm.height() - tickLength - labelGap;
    layoutValueAxes(qMax(1, plotBottom - plotTop));

    // Room for half a time label at either end where no axis takes it.
    const int halfLabel = fm.horizontalAdvance(QStringLiteral("00:00:00")) / 2 + 2;
    int left = 0;
    int right = 0;
    for (int i = 0; i < m_axes.size(); ++i)
        (m_axes.at(i).left ? left : right) += m_axisWidths.at(i);
    left = margin + qMax(left, halfLabel);
    right = margin + qMax(right, halfLabel);
    const int plotRight = qMax(left + 1, width() - 1 - right);
    m_plotRect = QRect(QPoint(left, plotTop), QPoint(plotRight, qMax(plotTop + 1, plotBottom)));
    layoutTimeAxis();
}

void ValuePlot::layoutLegend() {
    const QFontMetrics fm = fontMetrics();
    m_legendRects.clear();
    // Entries flow in rows across the top; each row is centred.
    QList<QList<int>> rows(1);
    QList<int> widths;
    int rowWidth = 0;
    const int available = qMax(1, width() - 2 * margin);
    const int spacing = 14;
    for (size_t i = 0; i < m_series.size(); ++i) {
        const int w = swatchLength + 4 + fm.horizontalAdvance(m_series[i].name);
        widths.append(w);
        if (!rows.last().isEmpty() && rowWidth + spacing + w > available) {
            rows.append(QList<int>());
            rowWidth = 0;
        }
        rowWidth += (rows.last().isEmpty() ? 0 : spacing) + w;
        rows.last().append(int(i));
    }
    QList<QRect> rects(int(m_series.size()));
    int y = margin;
    for (const QList<int> &row : std::as_const(rows)) {
        if (row.isEmpty())
            continue;
        int total = 0;
        for (const int i : row)
            total += widths.at(i);
        total += spacing * int(row.size() - 1);
        int x = margin + qMax(0, (available - total) / 2);
        for (const int i : row) {
            rects[i] = QRect(x, y, widths.at(i), fm.height());
            x += widths.at(i) + spacing;
        }
        y += fm.height() + 2;
    }
    m_legendRects = rects;
}

void ValuePlot::layoutValueAxes(int plotHeight) {
    const QFontMetrics fm = fontMetrics();
    m_axes.clear();
    m_axisWidths.clear();
    // One axis per unit, in the order the units first appear; each spans the
    // values of its unit's series, whatever the others hold.
    for (const Series &s : m_series) {
        double lowest = std::numeric_limits<double>::infinity();
        double highest = -lowest;
        for (const QList<QPointF> &segment : s.segments)
            for (const QPointF &p : segment)
                if (std::isfinite(p.y())) {
                    lowest = qMin(lowest, p.y());
                    highest = qMax(highest, p.y());
                }
        if (!(lowest <= highest))
            continue;
        auto axis = std::find_if(m_axes.begin(), m_axes.end(),
                                 [&](const Axis &a) { return a.unit == s.unit; });
        if (axis == m_axes.end()) {
            Axis a;
            a.unit = s.unit;
            a.low = lowest;
            a.high = highest;
            a.left = m_axes.size() % 2 == 0;
            m_axes.append(a);
        } else {
            axis->low = qMin(axis->low, lowest);
            axis->high = qMax(axis->high, highest);
        }
    }

    const int wanted = qMax(2, int(plotHeight / (fm.height() * 2.2)));
    for (Axis &a : m_axes) {
        double low = a.low;
        double high = a.high;
        if (high > low) {
            const double pad = (high - low) * 0.05;
            low -= pad;
            high += pad;
        } else {
            // A flat line sits in the middle of a small span around it.
            const double pad = low != 0.0 ? std::abs(low) * 0.05 : 1.0;
            low -= pad;
            high += pad;
        }
        const double step = niceStep(high - low, wanted);
        // Whole multiples of the step at both ends, so that the ends are
        // ticks and every tick lies within them however the sums round.
        const double first = std::floor(low / step);
        const double last = std::ceil(high / step);
        const double count = last - first;
        int width = 0;
        if (count >= 1 && count <= 1000) {
            a.low = first * step;
            a.high = last * step;
            const int decimals = decimalsFor(step);
            const double largest = qMax(std::abs(a.low), std::abs(a.high));
            for (int i = 0; i <= int(count); ++i) {
                const double value = i == int(count) ? a.high : (first + i) * step;
                a.ticks.append(value);
                a.labels.append(tickLabel(value, step, decimals, largest));
                width = qMax(width, fm.horizontalAdvance(a.labels.last()));
            }
        } else {
            // Values too large for the step to tell apart: no ticks.
            a.low = low;
            a.high = high;
        }
        const QString title = a.unit.isEmpty() ? tr("value") : a.unit;
        m_axisWidths.append(qMax(width + tickLength + 2 * labelGap, fm.horizontalAdvance(title)) +
                            4);
    }
}

void ValuePlot::layoutTimeAxis() {
    const QFontMetrics fm = fontMetrics();
    m_timeTicks.clear();
    m_timeLabels.clear();
    const qint64 span = m_endMs - m_startMs;
    if (span <= 0)
        return;
    qint64 step = timeSteps[std::size(timeSteps) - 1];
    QString format = QStringLiteral("HH:mm");
    for (const qint64 candidate : timeSteps) {
        const QString f = candidate < 60000 ? QStringLiteral("HH:mm:ss") : QStringLiteral("HH:mm");
        const int labelWidth =
            fm.horizontalAdvance(f == QLatin1String("HH:mm") ? QStringLiteral("00:00")
                                                             : QStringLiteral("00:00:00")) +
            3 * fm.averageCharWidth();
        if (double(span) / double(candidate) * labelWidth <= m_plotRect.width()) {
            step = candidate;
            format = f;
            break;
        }
    }
    // Ticks fall on round times of the local clock.
    const qint64 offset = qint64(QDateTime::fromMSecsSinceEpoch(m_startMs).offsetFromUtc()) * 1000;
    const qint64 local = m_startMs + offset;
    qint64 tick = (local / step + (local % step > 0 ? 1 : 0)) * step - offset;
    for (; tick <= m_endMs; tick += step) {
        m_timeTicks.append(tick);
        m_timeLabels.append(QDateTime::fromMSecsSinceEpoch(tick).toString(format));
    }
}

double ValuePlot::xFor(double ms) const {
    const QRectF r(m_plotRect);
    return r.left() + (ms - double(m_startMs)) / double(m_endMs - m_startMs) * r.width();
}

double ValuePlot::yFor(const Axis &axis, double value) const {
    const QRectF r(m_plotRect);
    return r.bottom() - (value - axis.low) / (axis.high - axis.low) * r.height();
}

void ValuePlot::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    const QPalette pal = palette();
    const QFontMetrics fm = fontMetrics();
    const QColor text = pal.color(QPalette::Text);
    QColor grid = text;
    grid.setAlpha(28);
    QColor frame = text;
    frame.setAlpha(110);
    painter.fillRect(rect(), pal.color(QPalette::Base));

    // Legend.
    for (size_t i = 0; i < m_series.size() && int(i) < m_legendRects.size(); ++i) {
        const QRect r = m_legendRects.at(int(i));
        const int y = r.center().y();
        painter.setPen(QPen(m_series[i].colour, 3));
        painter.drawLine(r.left(), y, r.left() + swatchLength - 2, y);
        painter.setPen(text);
        painter.drawText(r.adjusted(swatchLength + 4, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                         m_series[i].name);
    }

    // Grid: the first axis's ticks across, the time ticks down.
    painter.setPen(QPen(grid, 1));
    if (!m_axes.isEmpty())
        for (const double v : m_axes.first().ticks)
            painter.drawLine(QPointF(m_plotRect.left(), yFor(m_axes.first(), v)),
                             QPointF(m_plotRect.right(), yFor(m_axes.first(), v)));
    for (const qint64 t : m_timeTicks)
        painter.drawLine(QPointF(xFor(double(t)), m_plotRect.top()),
                         QPointF(xFor(double(t)), m_plotRect.bottom()));
    painter.setPen(QPen(frame, 1));
    painter.drawRect(m_plotRect);

    // Value axes, stacked outwards from the plot on either side.
    int leftEdge = m_plotRect.left();
    int rightEdge = m_plotRect.right();
    for (int i = 0; i < m_axes.size(); ++i) {
        const Axis &a = m_axes.at(i);
        const int w = m_axisWidths.at(i);
        const int x = a.left ? leftEdge : rightEdge;
        const int out = a.left ? -1 : 1;
        painter.setPen(QPen(frame, 1));
        painter.drawLine(x, m_plotRect.top(), x, m_plotRect.bottom());
        for (int t = 0; t < a.ticks.size(); ++t) {
            const int y = qRound(yFor(a, a.ticks.at(t)));
            painter.setPen(QPen(frame, 1));
            painter.drawLine(x, y, x + out * tickLength, y);
            painter.setPen(text);
            const int labelX = x + out * (tickLength + labelGap);
            const QRect box = a.left ? QRect(labelX - w, y - fm.height() / 2, w, fm.height())
                                     : QRect(labelX, y - fm.height() / 2, w, fm.height());
            painter.drawText(box, (a.left ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter,
                             a.labels.at(t));
        }
        // With several axes, a unit's title takes its line's colour to tell
        // which axis a line is read against (when only one line has it).
        QColor titleColour = text;
        if (m_axes.size() > 1) {
            int users = 0;
            for (const Series &s : m_series)
                if (s.unit == a.unit && !s.segments.empty()) {
                    ++users;
                    titleColour = s.colour;
                }
            if (users != 1)
                titleColour = text;
        }
        painter.setPen(titleColour);
        const QString title = a.unit.isEmpty() ? tr("value") : a.unit;
        const QRect titleBox =
            a.left ? QRect(x - w, m_plotRect.top() - fm.height() - 3, w, fm.height())
                   : QRect(x, m_plotRect.top() - fm.height() - 3, w, fm.height());
        painter.drawText(titleBox, (a.left ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter,
                         title);
        (a.left ? leftEdge : rightEdge) += out * w;
    }

    // Time axis.
    for (int i = 0; i < m_timeTicks.size(); ++i) {
        const int x = qRound(xFor(double(m_timeTicks.at(i))));
        painter.setPen(QPen(frame, 1));
        painter.drawLine(x, m_plotRect.bottom(), x, m_plotRect.bottom() + tickLength);
        painter.setPen(text);
        const int w = fm.horizontalAdvance(m_timeLabels.at(i));
        painter.drawText(
            QRect(x - w / 2 - 1, m_plotRect.bottom() + tickLength + labelGap, w + 2, fm.height()),
            Qt::AlignCenter, m_timeLabels.at(i));
    }

    // The lines.
    bool drewAny = false;
    painter.save();
    painter.setClipRect(m_plotRect.adjusted(1, 1, 0, 0));
    painter.setRenderHint(QPainter::Antialiasing, true);
    QPolygonF line;
    for (const Series &s : m_series) {
        const auto axis = std::find_if(m_axes.cbegin(), m_axes.cend(),
                                       [&](const Axis &a) { return a.unit == s.unit; });
        if (axis == m_axes.cend())
            continue;
        QPen pen(s.colour, 1.5);
        pen.setJoinStyle(Qt::RoundJoin);
        pen.setCapStyle(Qt::RoundCap);
        painter.setPen(pen);
        for (const QList<QPointF> &segment : s.segments) {
            line.clear();
            line.reserve(segment.size());
            for (const QPointF &p : segment)
                line.append(QPointF(xFor(p.x()), yFor(*axis, p.y())));
            if (line.size() == 1) {
                // A value alone between two gaps: a dot, or it would not show.
                painter.setPen(QPen(s.colour, 3.5, Qt::SolidLine, Qt::RoundCap));
                painter.drawPoint(line.first());
                painter.setPen(pen);
            } else if (line.size() > 1) {
                painter.drawPolyline(line);
            }
            drewAny = drewAny || !line.isEmpty();
        }
    }
    painter.restore();
    if (!drewAny) {
        painter.setPen(frame);
        painter.drawText(m_plotRect, Qt::AlignCenter, tr("No values to show"));
    }
}
