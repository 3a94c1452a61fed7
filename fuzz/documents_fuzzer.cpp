// Feeds arbitrary bytes to the document reader, both as an update list and as
// config.xml, and checks that whatever it accepts is written back in a form that
// reads back to itself.

#include "configsteps.h"
#include "launcherstate.h"
#include "messages.h"

#include <QByteArray>
#include <QFile>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

void failWith(const char *problem)
{
    std::fprintf(stderr, "documents_fuzzer: %s\n", problem);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const bool quiet = [] {
        setMessageBoxPresenter([](const MessageBoxRequest &) {});
        return true;
    }();
    (void)quiet;
    // Processor time, so that a busy machine does not pass for a slow input.
    const std::clock_t start = std::clock();
    const QByteArray text(reinterpret_cast<const char *>(data), int(size));

    {
        LauncherState state;
        if (state.mergeDocument(text.constData())) {
            const QByteArray saved = state.document(DocumentKind::Config);
            LauncherState reread;
            if (!reread.mergeDocument(saved.constData()))
                failWith("config.xml written from an accepted document does not read back");
            if (reread.document(DocumentKind::Config) != saved)
                failWith("config.xml written from an accepted document reads back differently");
        }
    }
    {
        QFile config(QStringLiteral("config.xml"));
        if (!config.open(QIODevice::WriteOnly) || config.write(text) != text.size())
            failWith("cannot write config.xml in the working directory");
    }
    {
        LauncherState state;
        loadConfigAndTell(state);
    }

    if (std::clock() - start > CLOCKS_PER_SEC / 10)
        failWith("an input took more than 100 ms");
    return 0;
}
