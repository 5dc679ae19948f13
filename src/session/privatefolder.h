#pragma once

#include <QString>

// Creates the folder and any missing one above it, each one it creates its owner's alone
// (0700) whatever the umask. True when the folder exists afterwards.
bool makePrivateFolder(const QString& folder);
