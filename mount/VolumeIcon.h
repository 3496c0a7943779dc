#pragma once

#include <QString>

// Copies the application's "VolumeIcon.icns" into "<home>/Library/Application Support/Tollvane"
// when no file stands there yet. Never replaces anything and never reports a failure.
void installVolumeIcon();
// The same with the Application Support folder and the icon resource given.
void installVolumeIcon(const QString& applicationSupport, const QString& resource);
