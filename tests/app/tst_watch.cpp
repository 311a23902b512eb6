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
    const QStringList titles = {QStringLiteral("a"), QStringLiteral("b (V)")};
    const QDateTime t0 = QDateTime::currentDateTime();
    const QList<QList<double>> sends = {{1, 10}, {2, 11}, {gap, 12}, {3, gap}, {4, gap}, {5, 13}};
    for (int i = 0; i < sends.size(); ++i)
        pane.addSample(t0.addMSecs(500 * i), titles, sends[i]);
    pane.refresh();
    QCOMPARE(pane.drawnPieces(titles[0]), 2);
    QCOMPARE(pane.drawnPoints(titles[0]), 5);
    QCOMPARE(pane.drawnPieces(titles[1]), 2);
    QCOMPARE(pane.drawnPoints(titles[1]), 4);
    pane.clear();
    QCOMPARE(pane.drawnPoints(titles[0]), 0);
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

// An hour of sends every 20 ms: the chart holds a few points per pixel
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
