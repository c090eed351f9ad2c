#include "CorvoVexor.h"

int main(int argc, char* argv[])
{
    return corvo_main(argc, argv);
}
