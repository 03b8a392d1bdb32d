// Entry point of korvel.
#include "driver/krvCmdLine.h"

int main(int argc, char **argv)
{
    return krvMain(argc, argv);
}
