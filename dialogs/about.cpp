#include "about.h"
#include "ui_about.h"

#include "documents/release/markup.h"

About::About(QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::About>())
{
    ui->setupUi(this);
    ui->aboutText->setHtml(MarkupToHtml(QStringLiteral("*关于更新*\n \n \n \n \n ")));
    setWindowTitle(QStringLiteral("关于"));
    connect(ui->exitButton, &QPushButton::clicked, this, &QWidget::close);
}

About::~About() = default;
