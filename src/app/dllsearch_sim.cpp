#include "dllsearch.h"

unsigned long limitDllSearchToSystemDirectory()
{
    return 0;
}
