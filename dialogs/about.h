#ifndef ABOUT_H
#define ABOUT_H

#include <QDialog>

#include <memory>

namespace Ui {
class About;
}

// The About box: a picture with a short marked-up title and one button that hides it again. The window
// keeps one instance for its whole life and only ever shows it.
class About : public QDialog
{
    Q_OBJECT

public:
    explicit About(QWidget *parent);
    ~About() override;

private:
    std::unique_ptr<Ui::About> ui;
};

#endif // ABOUT_H
