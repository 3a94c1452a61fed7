#pragma once

#include "windowcontext.h"

#include <QtGlobal>

// The six server buttons: their captions, and a click that installs, updates or
// plays the server.
class ServerButtons
{
public:
    explicit ServerButtons(const WindowContext &context) : context(context) {}

    // Each button of a server in the state shows its name and what a click does.
    void refresh();
    // Plays the server when it is current; otherwise fetches its due files, runs
    // their actions and records them one by one, then refreshes the captions.
    void act(quint16 id);

private:
    WindowContext context;
};
