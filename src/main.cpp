// The process entry: the tool works on the three standard streams only.
#include "skynote.h"

int main(int argc, char** argv)
{
    stream_open(0, 1, 2);
    skynote_main(argc, argv);
}
