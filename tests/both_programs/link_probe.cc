// Prints what the host library's debug switch answers: tells which library
// the loader picked.
#include <stdio.h>

#include "board_api.h"

int main()
{
    printf("%d\n", ZolDebugModeSet(0));
    return 0;
}
