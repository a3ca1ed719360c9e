// The process entry: the tool works on the three standard streams only, and
// this is the one place that ends the process.
#include "skynote.h"
#include "textstream.h"

int main(int argc, char** argv)
{
    stream_open(0, 1, 2);
    return skynote_main(argc, argv);
}
