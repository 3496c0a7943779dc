#pragma once

#include "platform/ModalAlert.h"

// The alert as a person sees it: a warning message box over the window they are looking at.
class MessageBoxAlert : public ModalAlert
{
public:
    // Does nothing without a QApplication (no widgets can be shown then).
    void runModal(const QString& messageText, const QString& informativeText) override;
};
