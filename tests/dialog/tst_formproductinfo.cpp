#include "FormProductInfo.h"

#include <QDesktopServices>
#include <QSignalSpy>
#include <QtTest>

// Collects the addresses the dialog hands to the desktop.
class UrlSink : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened << url; }
};

class TestFormProductInfo : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void showsTheApplicationIdentity();
    void linksOpenTheirAddresses_data();
    void linksOpenTheirAddresses();
    void closeHidesAndKeepsTheInstance();
};

void TestFormProductInfo::initTestCase() {
    QCoreApplication::setApplicationName(QStringLiteral("Brantle"));
    QCoreApplication::setApplicationVersion(QStringLiteral("2.0.1.0"));
    QCoreApplication::setOrganizationName(QStringLiteral("Orvane Corporation"));
}

void TestFormProductInfo::showsTheApplicationIdentity() {
    FormProductInfo dialog;
    QCOMPARE(dialog.objectName(), QStringLiteral("Dialog"));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Product Information"));
    QCOMPARE(dialog.ui.labelProductName->text(), QStringLiteral("Orvane Corporation Brantle"));
    QCOMPARE(dialog.ui.labelProductVersion->text(), QStringLiteral("Version 2.0.1.0"));
    QVERIFY(dialog.ui.labelProductCopyright->text().contains(QLatin1String("Orvane Corporation")));
    QCOMPARE(dialog.ui.pushButtonClose->text(), QStringLiteral("Close"));
    QCOMPARE(dialog.size(), QSize(496, 343));
    QVERIFY(!dialog.isModal());
}

void TestFormProductInfo::linksOpenTheirAddresses_data() {
    QTest::addColumn<QString>("label");
    QTest::addColumn<QUrl>("url");
    QTest::newRow("home page") << "labelHomePage" << FormProductInfo::homePageUrl;
    QTest::newRow("Qt") << "labelQtLicense" << FormProductInfo::qtUrl;
}

void TestFormProductInfo::linksOpenTheirAddresses() {
    QFETCH(QString, label);
    QFETCH(QUrl, url);
    UrlSink sink;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &sink, "open");
    FormProductInfo dialog;
    auto *target = dialog.findChild<QLabel *>(label);
    QVERIFY(target);
    emit target->linkActivated(QStringLiteral("dummy"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    QCOMPARE(sink.opened, QList<QUrl>{url});
    QVERIFY(url.isValid() && !url.toString().contains(QLatin1String("dummy")));
}

void TestFormProductInfo::closeHidesAndKeepsTheInstance() {
    QWidget parent;
    auto *dialog = new FormProductInfo(&parent);
    dialog->show();
    QVERIFY(dialog->isVisible());
    QPointer<FormProductInfo> alive(dialog);
    dialog->ui.pushButtonClose->click();
    QVERIFY(alive);
    QVERIFY(!dialog->isVisible());
    QCOMPARE(dialog->result(), int(QDialog::Accepted));
}

QTEST_MAIN(TestFormProductInfo)
#include "tst_formproductinfo.moc"
