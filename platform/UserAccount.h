#pragma once

#include <QString>

// The account the application runs as. Paths are built from the login name, never from $HOME.
class UserAccount
{
public:
    // The short login name of the effective user (what follows "/Users/" in every path).
    static QString loginName();
    // "/Users/" + the login name: every path of the application starts there.
    static QString userFolder();
    // The effective user's home directory from the password database; empty when unknown.
    static QString homeDirectory();
};
