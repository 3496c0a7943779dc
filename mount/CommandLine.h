#pragma once

#include <QString>

class SSHFSServer;

// The shell command lines run through "/bin/bash -c". Host names come from a file the user may
// not have written, so they are quoted unless every character is safe in a shell word; ordinary
// names keep the exact, bare text.
class CommandLine
{
public:
    static QString mount(const SSHFSServer& server);
    static QString unmount(const SSHFSServer& server);

    // "/Users/<login>/Library/Application\ Support/Tollvane/VolumeIcon.icns"
    static QString volumeIconPath();

    // Letters, digits and @%+=:,./_- only (ASCII), and not empty.
    static bool isSafeWord(const QString& text);
    // The text bare when it is safe, otherwise single-quoted for the shell.
    static QString shellWord(const QString& text);
    // The text for the inside of a single-quoted shell word.
    static QString insideQuotes(const QString& text);
};
