/* Compiles the public headers as C: a host written in C uses them alone. */
#include "morvane/morvane.h"
#include "morvane/ostrel.h"

int32_t (*const tev_main_pointer)(TevRequest*) = TevMain;
