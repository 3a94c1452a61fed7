// The error box and the debug line.

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
};

QTEST_GUILESS_MAIN(MessagesTest)
#include "messages_test.moc"
