#include "window/app/runSkylark.h"

int main(int argc, char** argv)
{
    return runSkylark(argc, argv);
}
