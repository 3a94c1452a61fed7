#pragma once

#include <QLabel>

// Labels that report a click the way a button does: every mouse release that
// reaches them, whichever button and wherever the pointer, emits clicked().
// The implicit mouse grab makes a press on the label followed by a release
// anywhere count; a press that began elsewhere gives nothing here.

// The carousel's picture.
class ClickableLabel : public QLabel
{
    Q_OBJECT

public:
    explicit ClickableLabel(QWidget *parent = nullptr);

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
};

// The decorative captions; the window gives each one a shadow halo.
class ShapedLabel : public QLabel
{
    Q_OBJECT

public:
    explicit ShapedLabel(QWidget *parent = nullptr);

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
};
