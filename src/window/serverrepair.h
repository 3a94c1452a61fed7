#pragma once

#include "windowcontext.h"

#include <QtGlobal>

// "Verificar e reparar" in each server button's context menu: every recorded file
// of the server checked against the list's size and SHA-256, and the damaged or
// missing ones fetched again (only their damaged chunks, where the release has
// chunks). No command runs again.
class ServerRepair
{
public:
    explicit ServerRepair(const WindowContext &context) : context(context) {}

    void addActions();
    void repair(quint16 id);

private:
    WindowContext context;
};
