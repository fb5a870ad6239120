#pragma once

#include <QString>

// True when the path itself is a link: a symbolic link (dangling or not), or
// on Windows any reparse point (symbolic link, junction, mount point). The
// tool, run elevated, neither writes through such a path nor trusts it as
// its own folder, since whoever made the link chooses where it leads.
// False for a missing path and for plain files and folders.
bool isLink(const QString &path);
