#include "FormProductInfo.h"

#include <QCoreApplication>
#include <QDesktopServices>

const QUrl FormProductInfo::homePageUrl(QStringLiteral("https://www.orvane.example/brantle/"));
const QUrl FormProductInfo::qtUrl(QStringLiteral("https://www.qt.io/"));

FormProductInfo::FormProductInfo(QWidget *parent, Qt::WindowFlags flags) : QDialog(parent, flags) {
    ui.setupUi(this);
    setWindowTitle(tr("Product Information"));
    ui.labelProductName->setText(QCoreApplication::organizationName() + u' ' +
                                 QCoreApplication::applicationName());
    ui.labelProductVersion->setText(tr("Version %1").arg(QCoreApplication::applicationVersion()));
    ui.labelProductCopyright->setText(QStringLiteral("Copyright (C) 2009-2026 ") +
                                      QCoreApplication::organizationName());
    connect(ui.labelQtLicense, &QLabel::linkActivated, this,
            &FormProductInfo::labelQtLicense_linkActivated);
    connect(ui.labelHomePage, &QLabel::linkActivated, this,
            &FormProductInfo::labelHomePage_linkActivated);
}

// The labels' own link targets are placeholders; the addresses live here.
void FormProductInfo::labelQtLicense_linkActivated(const QString &) {
    QDesktopServices::openUrl(qtUrl);
}

void FormProductInfo::labelHomePage_linkActivated(const QString &) {
    QDesktopServices::openUrl(homePageUrl);
}
