#include "dllsearch.h"

#include <windows.h>

unsigned long limitDllSearchToSystemDirectory()
{
    return SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) ? 0 : GetLastError();
}
