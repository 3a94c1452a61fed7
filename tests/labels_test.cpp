// Clicks on the picture and caption labels, as the window system delivers them.

#include "labels.h"

#include <QSignalSpy>
#include <QtTest>

namespace {

// Sends a press and a release through the window, so that the implicit mouse
// grab routes them as it does for a player's hand.
void pressAndRelease(QWidget &window, QPoint pressAt, QPoint releaseAt, Qt::MouseButton button)
{
    QTest::mousePress(window.windowHandle(), button, {}, pressAt);
    QTest::mouseRelease(window.windowHandle(), button, {}, releaseAt);
}

class DoubleClickCounter : public QObject
{
public:
    explicit DoubleClickCounter(QWidget *watched) { watched->installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        count += event->type() == QEvent::MouseButtonDblClick;
        return false;
    }
};

} // namespace

class LabelsTest : public QObject
{
    Q_OBJECT

private slots:
    void everyReleaseOfAPressOnTheLabelIsAClick()
    {
        QWidget window;
        window.resize(300, 200);
        auto *picture = new ClickableLabel(&window);
        picture->setGeometry(10, 10, 100, 100);
        auto *caption = new ShapedLabel(&window);
        caption->setGeometry(150, 10, 100, 40);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        for (QLabel *label : {static_cast<QLabel *>(picture), static_cast<QLabel *>(caption)}) {
            QSignalSpy clicks(label, SIGNAL(clicked()));
            const QPoint inside = label->geometry().center();
            for (const Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton})
                pressAndRelease(window, inside, inside, button);
            QCOMPARE(clicks.count(), 3);

            DoubleClickCounter doubleClicks(label);
            QTest::mouseDClick(window.windowHandle(), Qt::LeftButton, {}, inside);
            QCOMPARE(doubleClicks.count, 1);
            QCOMPARE(clicks.count(), 5);

            pressAndRelease(window, inside, QPoint(290, 190), Qt::LeftButton); // released outside
            QCOMPARE(clicks.count(), 6);
            pressAndRelease(window, QPoint(290, 190), inside, Qt::LeftButton); // pressed outside
            QCOMPARE(clicks.count(), 6);
        }
    }
};

QTEST_MAIN(LabelsTest)
#include "labels_test.moc"
