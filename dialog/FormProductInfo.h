#ifndef BRANTLE_FORMPRODUCTINFO_H
#define BRANTLE_FORMPRODUCTINFO_H

#include "ui_FormProductInfo.h"

#include <QDialog>
#include <QUrl>

// The product information dialog behind Help > Product Info: the
// application's identity as the main window set it, and two links.
class FormProductInfo : public QDialog {
    Q_OBJECT
public:
    explicit FormProductInfo(QWidget *parent = nullptr, Qt::WindowFlags flags = {});

    static const QUrl homePageUrl;
    static const QUrl qtUrl;

    Ui::Dialog ui;

private slots:
    void labelQtLicense_linkActivated(const QString &link);
    void labelHomePage_linkActivated(const QString &link);
};

#endif
