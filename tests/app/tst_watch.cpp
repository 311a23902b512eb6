#include "AdapterSession.h"
#include "Brantle.h"
#include "Eeprom24.h"
#include "Fx2Chip.h"
#include "GenericUsbDriver.h"
#include "SimUsbStack.h"
#include "TemperatureSensor.h"
#include "TransactionLogPane.h"
#include "ValuePlot.h"
#include "WatchPane.h"

#include <QSpinBox>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

const double gap = std::numeric_limits<double>::quiet_NaN();

// The window on a simulated adapter with the sensor at 0x48.
struct Watching {
    Watching() {
        auto chip = std::make_shared<Fx2Chip>();
        chip->bus().attach(std::make_shared<Eeprom24>());
        chip->bus().attach(std::make_shared<TemperatureSensor>());
        chip->setAdapterFirmware(AdapterSession::readFirmware());
        stack.plug(chip);
        window = std::make_unique<Brantle>(driver);
    }
    void send(const QString &script) {
        window->ui.textEditInput->setPlainText(script);
        window->ui.pushButtonSend->click();
    }
    const TransactionLog &log() const { return window->logPane()->log(); }
    QString script() const { return window->ui.textEditInput->toPlainText(); }

    SimUsbStack stack;
    GenericUsbDriver driver{stack};
    std::unique_ptr<Brantle> window;
};

const QString sensorScript =
    QStringLiteral("// watch: name=temp bytes=1-2 signed shift=7 scale=0.5 unit=°C\n"
                   "90 00 , 91 FF FF ;\n");

} // namespace

class TestWatch : public QObject {
    Q_OBJECT
private slots:
    void sendGivesTheChannelsValues_data();
    void sendGivesTheChannelsValues();
    void malformedWatchLineIsAScriptError();
    void gapsBreakTheLine();
    void valueAxisTicks_data();
    void valueAxisTicks();
    void timeAxisLabels_data();
    void timeAxisLabels();
    void pauseHoldsThePlot();
    void widerPlotIsThinnedAgain();
    void redrawsWhileSamplesKeepComing();
    void longWindowIsThinnedNotDropped();
    void tableEditsTheScript();
    void autoFollowsItsPeriod();
    void plotSavesAsPng();
};

void TestWatch::sendGivesTheChannelsValues_data() {
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<QString>("value");
    QTest::newRow("sensor") << sensorScript << "OK"
                            << "25";
    // A send that fails gives an empty cell, not a zero.
    QTest::newRow("NoAck") << QStringLiteral("// watch: name=temp bytes=1-2 signed shift=7 "
                                             "scale=0.5 unit=°C\n94 00 , 95 FF FF ;\n")
                           << "NoAck"
                           << "";
}

void TestWatch::sendGivesTheChannelsValues() {
    QFETCH(QString, script);
    QFETCH(QString, outcome);
    QFETCH(QString, value);
    Watching w;
    w.send(script);
    QCOMPARE(w.log().rowCount(), 1);
    QCOMPARE(w.log().record(0).outcome, outcome);
    QCOMPARE(w.log().channels(), QStringList{QStringLiteral("temp (°C)")});
    QCOMPARE(w.log().index(0, TransactionLog::ColumnCount).data().toString(), value);
    QCOMPARE(w.log().csv().split('\n').value(1).trimmed().split(',').last(), value.toUtf8());
}

void TestWatch::malformedWatchLineIsAScriptError() {
    Watching w;
    const QString script = QStringLiteral("90 00 , 91 FF FF ;\n// watch: name=t bytes=1-3\n");
    w.send(script);
    QCOMPARE(w.window->ui.labelInfo->text().section(u'\n', 1), QStringLiteral("Parse Error"));
    QCOMPARE(w.window->statusBar()->currentMessage(),
             QStringLiteral("Parse Error: watch: 't' needs byte 3, but the script reads 2."));
    QCOMPARE(w.window->ui.textEditInput->textCursor().selectedText(), QStringLiteral("1-3"));
    QVERIFY(w.log().record(0).reply.isEmpty()); // nothing went to the adapter
}

void TestWatch::gapsBreakTheLine() {
    WatchPane pane;
    pane.resize(800, 300);
    pane.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pane));
    WatchChannel a, b;
    a.name = QStringLiteral("a");
    b.name = QStringLiteral("b");
    b.unit = QStringLiteral("V");
    pane.setChannels({a, b});
    const QStringList titles = {a.title(), b.title()};
    QCOMPARE(titles[1], QStringLiteral("b (V)"));
    const QDateTime t0 = QDateTime::currentDateTime();
    const QList<QList<double>> sends = {{1, 10}, {2, 11}, {gap, 12}, {3, gap}, {4, gap}, {5, 13}};
    for (int i = 0; i < sends.size(); ++i)
        pane.addSample(t0.addMSecs(500 * i), titles, sends[i]);
    pane.refresh();
    QCOMPARE(pane.drawnPieces(titles[0]), 2);
    QCOMPARE(pane.drawnPoints(titles[0]), 5);
    QCOMPARE(pane.drawnPieces(titles[1]), 2);
    QCOMPARE(pane.drawnPoints(titles[1]), 4);

    // What the plot draws: each unbroken piece as (ms after the first send,
    // value); nothing stands in for the missing values.
    auto drawn = [&](const QString &title) {
        QList<QList<QPointF>> pieces;
        for (const ValuePlot::Series &s : pane.valuePlot->series())
            if (s.name == title)
                for (const QList<QPointF> &piece : s.segments) {
                    pieces.append(QList<QPointF>());
                    for (const QPointF &p : piece)
                        pieces.last().append(
                            QPointF(p.x() - double(t0.toMSecsSinceEpoch()), p.y()));
                }
        return pieces;
    };
    using Piece = QList<QPointF>;
    QCOMPARE(drawn(titles[0]),
             (QList<Piece>{{{0, 1}, {500, 2}}, {{1500, 3}, {2000, 4}, {2500, 5}}}));
    // A value alone between gaps is a piece of its own.
    QCOMPARE(drawn(titles[1]), (QList<Piece>{{{0, 10}, {500, 11}, {1000, 12}}, {{2500, 13}}}));
    // One axis per unit, on either side.
    const QList<ValuePlot::Axis> &axes = pane.valuePlot->valueAxes();
    QCOMPARE(axes.size(), 2);
    QCOMPARE(axes[0].unit, QString());
    QVERIFY(axes[0].left);
    QCOMPARE(axes[1].unit, QStringLiteral("V"));
    QVERIFY(!axes[1].left);
    QVERIFY(axes[0].low <= 1 && axes[0].high >= 5);
    QVERIFY(axes[1].low <= 10 && axes[1].high >= 13);

    pane.clear();
    QCOMPARE(pane.drawnPoints(titles[0]), 0);
    QVERIFY(pane.valuePlot->valueAxes().isEmpty());
}

// Each unit's axis spans its values with round, readable ticks: a label per
// tick that reads back as that tick, no two alike, not too many to fit.
void TestWatch::valueAxisTicks_data() {
    QTest::addColumn<QList<double>>("values");
    QTest::newRow("temperature") << QList<double>{23.35, 24.0, 25.15};
    QTest::newRow("flat") << QList<double>{25.0, 25.0};
    QTest::newRow("flat zero") << QList<double>{0.0};
    QTest::newRow("below zero") << QList<double>{-40.0, -39.5};
    QTest::newRow("across zero") << QList<double>{-0.3, 0.7};
    QTest::newRow("counts") << QList<double>{0.0, 4095.0};
    QTest::newRow("tiny") << QList<double>{0.0001, 0.00013};
    QTest::newRow("millions") << QList<double>{1.2e6, 1.25e6};
    QTest::newRow("huge") << QList<double>{3e12, 3.5e12};
    QTest::newRow("huge and flat") << QList<double>{1e15};
}

void TestWatch::valueAxisTicks() {
    QFETCH(QList<double>, values);
    ValuePlot plot;
    plot.resize(600, 300);
    ValuePlot::Series series;
    series.name = QStringLiteral("x (u)");
    series.unit = QStringLiteral("u");
    series.segments.emplace_back();
    for (int i = 0; i < values.size(); ++i)
        series.segments.back().append({1000.0 * i, values[i]});
    plot.setData({series}, 0, 10000);

    QCOMPARE(plot.valueAxes().size(), 1);
    const ValuePlot::Axis &axis = plot.valueAxes().first();
    const double lowest = *std::min_element(values.begin(), values.end());
    const double highest = *std::max_element(values.begin(), values.end());
    QVERIFY(axis.low < lowest && axis.high > highest); // no line on the frame
    QVERIFY2(axis.ticks.size() >= 2 && axis.ticks.size() <= plot.plotRect().height() / 20,
             qPrintable(QString::number(axis.ticks.size())));
    QCOMPARE(axis.labels.size(), axis.ticks.size());
    const double step = axis.ticks[1] - axis.ticks[0];
    for (int i = 0; i < axis.ticks.size(); ++i) {
        QVERIFY(axis.ticks[i] >= axis.low && axis.ticks[i] <= axis.high);
        if (i > 0) {
            QVERIFY(axis.labels[i] != axis.labels[i - 1]);
            QVERIFY(qAbs(axis.ticks[i] - axis.ticks[i - 1] - step) < step * 1e-6);
        }
        bool ok = false;
        const double read = axis.labels[i].toDouble(&ok);
        QVERIFY2(ok && qAbs(read - axis.ticks[i]) <= step * 1e-3,
                 qPrintable(axis.labels[i] + u' ' + QString::number(axis.ticks[i], 'g', 17)));
        QVERIFY2(!axis.labels[i].startsWith(QLatin1String("-0")) ||
                     axis.labels[i].toDouble() != 0.0,
                 qPrintable(axis.labels[i]));
    }
}

// Over every window the time labels are clock times on round steps, in
// order, far enough apart not to overlap, and several of them.
void TestWatch::timeAxisLabels_data() {
    QTest::addColumn<int>("seconds");
    for (const int s : {10, 30, 60, 300, 600, 1800, 3600})
        QTest::newRow(qPrintable(QString::number(s))) << s;
}

void TestWatch::timeAxisLabels() {
    QFETCH(int, seconds);
    WatchPane pane;
    pane.resize(900, 300);
    pane.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pane));
    pane.setWindowSeconds(seconds);
    const QDateTime t0 = QDateTime::currentDateTime();
    for (int i = 0; i <= 100; ++i)
        pane.addSample(t0.addMSecs(qint64(seconds) * 10 * i), {QStringLiteral("a")}, {double(i)});
    pane.refresh();
    const ValuePlot *plot = pane.valuePlot;
    QCOMPARE(plot->endMs() - plot->startMs(), qint64(seconds) * 1000);
    const QList<qint64> ticks = plot->timeTicks();
    const QStringList labels = plot->timeLabels();
    QCOMPARE(labels.size(), ticks.size());
    QVERIFY2(ticks.size() >= 3, qPrintable(labels.join(u' ')));
    const QString format = seconds <= 60 ? QStringLiteral("HH:mm:ss") : QStringLiteral("HH:mm");
    const int labelWidth = plot->fontMetrics().horizontalAdvance(labels.first());
    for (int i = 0; i < ticks.size(); ++i) {
        QVERIFY(ticks[i] >= plot->startMs() && ticks[i] <= plot->endMs());
        const QDateTime time = QDateTime::fromMSecsSinceEpoch(ticks[i]);
        QCOMPARE(labels[i], time.toString(format));
        QCOMPARE(time.time().msec(), 0);
        if (i == 0)
            continue;
        QVERIFY(labels[i] != labels[i - 1]);
        const double apart = double(ticks[i] - ticks[i - 1]) * plot->plotRect().width() /
                             double(plot->endMs() - plot->startMs());
        QVERIFY2(apart > labelWidth, qPrintable(labels.join(u' ')));
    }
}

// Paused, the plot keeps what it showed while the values go on being taken;
// Resume shows them.
void TestWatch::pauseHoldsThePlot() {
    WatchPane pane;
    pane.resize(600, 300);
    const QDateTime t0 = QDateTime::currentDateTime();
    pane.addSample(t0, {QStringLiteral("a")}, {1.0});
    pane.refresh();
    QCOMPARE(pane.drawnPoints(QStringLiteral("a")), 1);
    pane.pushButtonPause->click();
    QVERIFY(pane.isPaused());
    QCOMPARE(pane.pushButtonPause->text(), QStringLiteral("Resume"));
    pane.addSample(t0.addSecs(1), {QStringLiteral("a")}, {2.0});
    QTest::qWait(300);
    QCOMPARE(pane.drawnPoints(QStringLiteral("a")), 1);
    pane.pushButtonPause->click();
    QCOMPARE(pane.pushButtonPause->text(), QStringLiteral("Pause"));
    QCOMPARE(pane.drawnPoints(QStringLiteral("a")), 2);
}

// Samples faster than the redraw timer must not keep putting the redraw off.
void TestWatch::redrawsWhileSamplesKeepComing() {
    WatchPane pane;
    pane.resize(600, 300);
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; clock.elapsed() < 600; ++i) {
        pane.addSample(QDateTime::currentDateTime(), {QStringLiteral("a")}, {double(i)});
        QTest::qWait(10);
    }
    QVERIFY(pane.drawnPoints(QStringLiteral("a")) > 0);
}

// An hour of sends every 20 ms: the plot holds a few points per pixel
// column, and the newest and the oldest of the window are still drawn.
void TestWatch::longWindowIsThinnedNotDropped() {
    WatchPane pane;
    pane.resize(800, 300);
    pane.setWindowSeconds(3600);
    const QStringList titles = {QStringLiteral("saw")};
    const QDateTime t0 = QDateTime::currentDateTime();
    const int sends = 3600 * 50;
    for (int i = 0; i < sends; ++i)
        pane.addSample(t0.addMSecs(20LL * i), titles, {double(i % 1000)});
    pane.refresh();
    QVERIFY2(pane.drawnPoints(titles[0]) <= 2 * 1000,
             qPrintable(QString::number(pane.drawnPoints(titles[0]))));
    QVERIFY(pane.drawnPoints(titles[0]) >= 100);
    QCOMPARE(pane.drawnPieces(titles[0]), 1);
}

// Thinned while the pane was hidden (the plot a default size), the values are
// thinned again to the width the plot has once shown.
void TestWatch::widerPlotIsThinnedAgain() {
    WatchPane pane;
    pane.resize(1000, 300);
    const QDateTime t0 = QDateTime::currentDateTime();
    for (int i = 0; i < 3000; ++i)
        pane.addSample(t0.addMSecs(20LL * i), {QStringLiteral("a")}, {double(i % 97)});
    QTest::qWait(300); // the redraw the samples asked for
    const int narrow = pane.drawnPoints(QStringLiteral("a"));
    QVERIFY(narrow > 0);
    pane.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pane));
    QVERIFY(pane.valuePlot->plotRect().width() > 300);
    QTRY_VERIFY2(pane.drawnPoints(QStringLiteral("a")) > narrow * 2,
                 qPrintable(QString::number(narrow)));
}

void TestWatch::tableEditsTheScript() {
    Watching w;
    w.window->ui.textEditInput->setPlainText(QStringLiteral("// sensor\n") + sensorScript);
    QTRY_COMPARE(w.window->watchPane()->channels().size(), 1);
    QTableWidget *table = w.window->watchPane()->tableWidgetChannels;
    // Column 6: the scale.
    QCOMPARE(table->horizontalHeaderItem(6)->text(), QStringLiteral("Scale"));
    table->item(0, 6)->setText(QStringLiteral("0.25"));
    QCOMPARE(w.script(), QStringLiteral("// sensor\n// watch: name=temp bytes=1-2 signed shift=7 "
                                        "scale=0.25 unit=°C\n90 00 , 91 FF FF ;\n"));
    // A value the parser refuses leaves the script alone and says why.
    table->item(0, 6)->setText(QStringLiteral("lots"));
    QVERIFY(w.script().contains(QLatin1String("scale=0.25")));
    QVERIFY(!w.window->watchPane()->labelProblem->isHidden());
    table->item(0, 6)->setText(QStringLiteral("0.5"));
    w.window->watchPane()->pushButtonAdd->click();
    QCOMPARE(w.script(), QStringLiteral("// sensor\n// watch: name=temp bytes=1-2 signed shift=7 "
                                        "scale=0.5 unit=°C\n// watch: name=value2 bytes=1\n"
                                        "90 00 , 91 FF FF ;\n"));
    // One edit, one undo step.
    w.window->ui.textEditInput->undo();
    QVERIFY(!w.script().contains(QLatin1String("value2")));
}

void TestWatch::autoFollowsItsPeriod() {
    Watching w;
    w.window->ui.textEditInput->setPlainText(sensorScript);
    QSpinBox *period = w.window->spinBoxAutoPeriod;
    QCOMPARE(period->value(), 500);
    QCOMPARE(period->minimum(), 20);
    QCOMPARE(period->maximum(), 60000);
    period->setValue(50);
    w.window->ui.pushButtonAutoSend->click();
    QTest::qWait(1000);
    const int sends = w.log().rowCount();
    QVERIFY2(sends >= 8 && sends <= 22, qPrintable(QString::number(sends)));
    // A new period applies while Auto runs.
    period->setValue(500);
    const int before = w.log().rowCount();
    QTest::qWait(1000);
    const int slow = w.log().rowCount() - before;
    QVERIFY2(slow >= 1 && slow <= 3, qPrintable(QString::number(slow)));
    w.window->ui.pushButtonAutoSend->click();
    QCOMPARE(w.window->autoTimerId, 0);
}

void TestWatch::plotSavesAsPng() {
    WatchPane pane;
    pane.resize(600, 300);
    pane.addSample(QDateTime::currentDateTime(), {QStringLiteral("a")}, {1.0});
    pane.refresh();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("plot.png"));
    QVERIFY(pane.savePlot(path));
    QImage image(path);
    QVERIFY(!image.isNull());
    QCOMPARE(image.size(), pane.valuePlot->size());
    QVERIFY(!pane.savePlot(dir.filePath(QStringLiteral("no/such/plot.png"))));
}

QTEST_MAIN(TestWatch)
#include "tst_watch.moc"
