// Feeds arbitrary bytes to the document reader, both as an update list and as
// config.xml, and checks that whatever it accepts is written back in a form that
// reads back to itself.

#include "state/configsteps.h"
#include "state/launcherstate.h"
#include "messages.h"

#include <QByteArray>
#include <QFile>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>

static void check(bool holds, const char *problem)
{
    if (!holds) {
        std::fprintf(stderr, "documents_fuzzer: %s\n", problem);
        std::abort();
    }
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const bool quiet = (setMessageBoxPresenter([](const MessageBoxRequest &) {}), true);
    (void)quiet;
    // Processor time, so that a busy machine does not pass for a slow input.
    const std::clock_t start = std::clock();
    const QByteArray text(reinterpret_cast<const char *>(data), int(size));

    LauncherState state;
    if (state.mergeDocument(text.constData())) {
        const QByteArray saved = state.document(DocumentKind::Config);
        LauncherState reread;
        check(reread.mergeDocument(saved.constData()),
              "config.xml written from an accepted document does not read back");
        check(reread.document(DocumentKind::Config) == saved,
              "config.xml written from an accepted document reads back differently");
    }
    QFile config(QStringLiteral("config.xml"));
    check(config.open(QIODevice::WriteOnly) && config.write(text) == text.size(),
          "cannot write config.xml in the working directory");
    config.close();
    LauncherState loaded;
    loadConfigAndTell(loaded);

    check(std::clock() - start <= CLOCKS_PER_SEC / 10, "an input took more than 100 ms");
    return 0;
}
