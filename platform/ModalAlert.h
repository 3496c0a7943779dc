#pragma once

#include <QString>

// An application-modal message box with a warning icon and one "OK" button, run to its end.
class ModalAlert
{
public:
    virtual ~ModalAlert() = default;
    // Does nothing without a QApplication (no widgets can be shown then).
    virtual void runModal(const QString& messageText, const QString& informativeText);
};
