// The error box and the debug line.

#include "boxrecorder.h"
#include "messages.h"

#include <QtTest>

namespace {

QStringList capturedLines;

void captureDebugLine(QtMsgType, const QMessageLogContext &, const QString &message)
{
    capturedLines << message;
}

} // namespace

class MessagesTest : public QObject
{
    Q_OBJECT

private slots:
    void debugLinesAreWrittenUnchanged()
    {
        capturedLines.clear();
        const QtMessageHandler previous = qInstallMessageHandler(captureDebugLine);
        consoleMessage("100% %s %d %n");
        // Without a window to show it in, a box becomes a debug line.
        showErrorMessage(nullptr, QString::fromLatin1("N\xe3o foi poss\xedvel"));
        qInstallMessageHandler(previous);
        QCOMPARE(capturedLines, QStringList({QStringLiteral("100% %s %d %n"),
                                             QString::fromUtf8("Erro: N\xc3\xa3o foi poss\xc3\xadvel")}));
    }

    void errorBoxesCarryTheirTitleAndText()
    {
        BoxRecorder boxes;
        showErrorMessage(nullptr, QString());
        showErrorMessage(nullptr, static_cast<const char *>(nullptr));
        showErrorMessage(nullptr, "Servidor \xc3\xa7");
        QCOMPARE(boxes.boxes.size(), std::size_t(3));
        for (const MessageBoxRequest &box : boxes.boxes) {
            QCOMPARE(box.title, QStringLiteral("Erro"));
            QCOMPARE(box.icon, MessageBoxRequest::Icon::Warning);
        }
        QCOMPARE(boxes.texts(), QStringList({QString(), QString(), QString::fromUtf8("Servidor \xc3\xa7")}));
    }
};

QTEST_GUILESS_MAIN(MessagesTest)
#include "messages_test.moc"
