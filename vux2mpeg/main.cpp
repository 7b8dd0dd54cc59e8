// vux2mpeg: converts a recording container into an MPEG-2 program stream.
#include "driver.h"

int main(int argc, char **argv) { return vux::vux2mpeg_main(argc, argv); }
