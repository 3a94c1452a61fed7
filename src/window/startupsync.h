#pragma once

#include "runresult.h"
#include "windowcontext.h"

class Carousel;
class ServerButtons;

// The start-up synchronisation, once per start: the update list, the carousel
// pictures and the launcher's own update; then the server buttons and the
// carousel come alive.
class StartupSync
{
public:
    StartupSync(const WindowContext &context, ServerButtons &serverButtons, Carousel &carousel)
        : context(context), serverButtons(serverButtons), carousel(carousel)
    {
    }

    void run();

    // Update mode could not put the new build in place: the synchronisation tells
    // the player and offers no launcher update in this run.
    void noteFailedSelfUpdate() { selfUpdateFailed = true; }

private:
    RunResult updateImages();
    RunResult updateLauncher();

    WindowContext context;
    ServerButtons &serverButtons;
    Carousel &carousel;
    bool selfUpdateFailed = false;
};
