#pragma once

// Whether this process runs elevated: on Windows with the Administrators
// group enabled in its token (a split token of a user with the administrator
// role holds it for deny only), on the simulated machine as root. The modes
// that change DNS find out when the vendor folder cannot be made; a mode
// that creates nothing asks here.
bool isElevated();
