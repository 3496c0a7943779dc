#pragma once

#include <QString>

// An application-modal alert with a warning icon and one "OK" button, run to its end. The core
// has no widgets, so this one shows nothing: the window's layer gives the coordinator one that
// does (ui/MessageBoxAlert), and tests their own.
class ModalAlert
{
public:
    virtual ~ModalAlert() = default;
    virtual void runModal(const QString& messageText, const QString& informativeText)
    {
        Q_UNUSED(messageText)
        Q_UNUSED(informativeText)
    }
};
